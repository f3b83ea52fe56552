#include "account/keychain.h"
#include "testenvironment.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#ifndef Q_OS_MACOS
#include <libsecret/secret.h>
#endif

namespace {

// How many items the platform's store itself files under our service and this name, asked
// without going through QtKeychain; -1 when it could not be asked.
int itemsInStore(const QString &item)
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
#ifdef Q_OS_MACOS
    // The search list is the throw-away keychain alone; security(1) exits with 44 for no item.
    process.start(QStringLiteral("security"), {QStringLiteral("find-generic-password"), QStringLiteral("-s"),
                                               QString(Keychain::service), QStringLiteral("-a"), item});
    if (!finished.wait(20000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode() == 0 ? 1 : process.exitCode() == 44 ? 0 : -1;
#else
    // QtKeychain files a secret by "server" (the service) and "user" (the item's name).
    const QString attributes = QStringLiteral("{'server': '%1', 'user': '%2'}").arg(Keychain::service, item);
    process.start(QStringLiteral("gdbus"),
                  QStringLiteral("call --session --dest org.freedesktop.secrets --object-path "
                                 "/org/freedesktop/secrets --method "
                                 "org.freedesktop.Secret.Service.SearchItems")
                          .split(' ')
                      << attributes);
    if (!finished.wait(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    // "([objectpath '/org/freedesktop/secrets/collection/login/1'], @ao [])": unlocked, then locked.
    return int(process.readAllStandardOutput().count("/org/freedesktop/secrets/collection/"));
#endif
}

} // namespace

// Runs against the platform's real store in the private one tests/with-keyring.sh sets up: a
// Secret Service on a private session bus, or on the Mac a throw-away keychain.
class TestKeychainStore : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private:
    QObject m_context;
    int m_answers = 0;
    QList<bool> m_results;

    // Hands the write to the store without waiting; its answer is counted.
    void write(const QString &item, const std::optional<QString> &value)
    {
        Keychain::write(item, value, &m_context, [this](bool ok) { m_results.append(ok); });
        ++m_answers;
    }
    std::optional<QString> readBack(const QString &item)
    {
        std::optional<std::optional<QString>> read;
        Keychain::read(item, &m_context, [&read](const std::optional<QString> &value) { read = value; });
        if (!QTest::qWaitFor([&read] { return read.has_value(); }, 20000))
            return QStringLiteral("(no answer)");
        return *read;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Never the developer's own keyring or keychain: only the private one made for this run.
#ifdef Q_OS_MACOS
        const QString privateStore = qEnvironmentVariable("DRAVLIN_TEST_KEYCHAIN");
#else
        const QString privateStore = qEnvironmentVariable("XDG_RUNTIME_DIR");
        QVERIFY(privateStore.isEmpty() || !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"));
#endif
        if (privateStore.isEmpty() || !privateStore.startsWith(QDir::tempPath()))
            QSKIP("Needs the private store of tests/with-keyring.sh (run it through ctest).");
        QVERIFY(Keychain::usesPlatformStore());
    }

    void init()
    {
        m_results.clear();
        m_answers = 0;
        write(Keychain::apiTokenItem, std::nullopt);
        write(Keychain::openRouterKeyItem, std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), m_answers, 20000);
        m_results.clear();
        m_answers = 0;
    }

    // Values written in turn without waiting (a null one: absent, as removing leaves it): each is
    // answered, in order, and the last one is what is known at once, read back, and held by exactly
    // one item of the store, or by none when it is empty or absent. The other item never changes.
    void theLastValueWrittenIsTheOneKept_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::newRow("saved again") << QStringList{"first", "second"};
        QTest::newRow("non-ASCII") << QStringList{QStringLiteral("clé-🔑-ключ")};
        QTest::newRow("emptied") << QStringList{"tok", QStringLiteral("")};
        QTest::newRow("removed, twice") << QStringList{"tok", QString(), QString()};
    }
    void theLastValueWrittenIsTheOneKept()
    {
        QFETCH(QStringList, values);
        write(Keychain::openRouterKeyItem, QStringLiteral("key"));
        for (const QString &value : values)
            write(Keychain::apiTokenItem, value.isNull() ? std::nullopt : std::optional<QString>(value));
        const QString last = values.last();
        const std::optional<QString> kept = last.isEmpty() ? std::nullopt : std::optional<QString>(last);
        QCOMPARE(Keychain::value(Keychain::apiTokenItem), kept);
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), m_answers, 20000);
        QCOMPARE(m_results, QList<bool>(m_answers, true));
        QCOMPARE(readBack(Keychain::apiTokenItem), kept);
        QCOMPARE(itemsInStore(Keychain::apiTokenItem), kept ? 1 : 0);
        QCOMPARE(readBack(Keychain::openRouterKeyItem), std::optional<QString>("key"));
        QCOMPARE(itemsInStore(Keychain::openRouterKeyItem), 1);
    }

#ifndef Q_OS_MACOS
    // An item an earlier version filed with libsecret under its own schema is read as the item,
    // then lives where QtKeychain keeps it and nowhere else: an update signs nobody out. Asking
    // for it does not hold up what was asked after it, which is answered in turn and not undone by
    // the move: a removal right after the read that found it leaves it removed.
    void anEarlierVersionsItemIsMovedOnce()
    {
        static const SecretSchema earlier = [] {
            SecretSchema s{};
            s.name = "app.dravlin.mac";
            s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
            s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
            s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
            return s;
        }();
        const auto lookUp = [] {
            gchar *found =
                secret_password_lookup_sync(&earlier, nullptr, nullptr, "service", "app.dravlin.mac",
                                            "account", "openrouter_key", nullptr);
            const QString value = QString::fromUtf8(found);
            secret_password_free(found);
            return value;
        };
        const auto storeEarlier = [] {
            return secret_password_store_sync(&earlier, SECRET_COLLECTION_DEFAULT, "Dravlin", "sk-or-earlier",
                                              nullptr, nullptr, "service", "app.dravlin.mac", "account",
                                              "openrouter_key", nullptr);
        };
        QVERIFY(storeEarlier());
        QCOMPARE(readBack(Keychain::openRouterKeyItem), std::optional<QString>("sk-or-earlier"));
        QTRY_COMPARE_WITH_TIMEOUT(itemsInStore(Keychain::openRouterKeyItem), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(lookUp().isEmpty(), 20000);
        QCOMPARE(readBack(Keychain::openRouterKeyItem), std::optional<QString>("sk-or-earlier"));

        write(Keychain::openRouterKeyItem, std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(m_results.size(), m_answers, 20000);
        QVERIFY(storeEarlier());
        QStringList answers;
        const auto answer = [&answers](const char *what) {
            return [&answers, what](const std::optional<QString> &value) {
                answers << QLatin1String(what) + ' ' + value.value_or(QStringLiteral("none"));
            };
        };
        Keychain::read(Keychain::openRouterKeyItem, &m_context, answer("key"));
        Keychain::remove(Keychain::openRouterKeyItem, &m_context,
                         [&answers](bool ok) { answers << (ok ? "removed" : "not removed"); });
        Keychain::read(Keychain::apiTokenItem, &m_context, answer("token"));
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 3, 20000);
        QCOMPARE(answers, (QStringList{"key sk-or-earlier", "removed", "token none"}));
        QCOMPARE(readBack(Keychain::openRouterKeyItem), std::nullopt);
        QCOMPARE(itemsInStore(Keychain::openRouterKeyItem), 0);
        QVERIFY(lookUp().isEmpty());
    }
#endif
};

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_keychainstore.moc"
