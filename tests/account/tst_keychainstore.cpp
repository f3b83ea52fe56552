#include "account/keychain.h"
#include "testenvironment.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

// How many items the Secret Service itself files under our service and this name, asked over
// D-Bus without going through libsecret; -1 when it could not be asked.
int itemsInSecretService(const QString &item)
{
    QProcess gdbus;
    QSignalSpy finished(&gdbus, &QProcess::finished);
    const QString attributes =
        QStringLiteral("{'service': '%1', 'account': '%2'}").arg(Keychain::service, item);
    gdbus.start(QStringLiteral("gdbus"),
                QStringLiteral("call --session --dest org.freedesktop.secrets --object-path "
                               "/org/freedesktop/secrets --method "
                               "org.freedesktop.Secret.Service.SearchItems")
                        .split(' ')
                    << attributes);
    if (!finished.wait(20000) || gdbus.exitStatus() != QProcess::NormalExit || gdbus.exitCode() != 0)
        return -1;
    // "([objectpath '/org/freedesktop/secrets/collection/login/1'], @ao [])": unlocked, then locked.
    return int(gdbus.readAllStandardOutput().count("/org/freedesktop/secrets/collection/"));
}

} // namespace

// Runs against the real Secret Service in the private session tests/with-keyring.sh sets up.
class TestKeychainStore : public QObject
{
    Q_OBJECT

public:
    DRAVLIN_TEST_INIT_MAIN

private Q_SLOTS:
    void initTestCase()
    {
        // Never the developer's own keyring: only a session whose runtime folder is temporary.
        const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (runtimeDir.isEmpty() || !runtimeDir.startsWith(QDir::tempPath()))
            QSKIP("Needs the private keyring of tests/with-keyring.sh (run it through ctest).");
        QVERIFY(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"));
        QVERIFY(Keychain::usesPlatformStore());
    }

    void init()
    {
        Keychain::remove(Keychain::apiTokenItem);
        Keychain::remove(Keychain::openRouterKeyItem);
    }

    // Values set in turn (a null one: absent, as removing leaves it): the last one is what is read
    // back, held by exactly one item of the store, or by none when it is empty or absent. The other
    // item never changes.
    void theLastValueSetIsTheOneKept_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::newRow("saved again") << QStringList{"first", "second"};
        QTest::newRow("non-ASCII") << QStringList{QStringLiteral("clé-🔑-ключ")};
        QTest::newRow("emptied") << QStringList{"tok", QStringLiteral("")};
        QTest::newRow("removed, twice") << QStringList{"tok", QString(), QString()};
    }
    void theLastValueSetIsTheOneKept()
    {
        QFETCH(QStringList, values);
        QVERIFY(Keychain::set(Keychain::openRouterKeyItem, QStringLiteral("key")));
        for (const QString &value : values) {
            if (value.isNull())
                Keychain::remove(Keychain::apiTokenItem);
            else
                QVERIFY(Keychain::set(Keychain::apiTokenItem, value));
        }
        const QString last = values.last();
        QCOMPARE(Keychain::get(Keychain::apiTokenItem),
                 last.isEmpty() ? std::nullopt : std::optional<QString>(last));
        QCOMPARE(itemsInSecretService(Keychain::apiTokenItem), last.isEmpty() ? 0 : 1);
        QCOMPARE(Keychain::get(Keychain::openRouterKeyItem), std::optional<QString>("key"));
        QCOMPARE(itemsInSecretService(Keychain::openRouterKeyItem), 1);
    }
};

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_keychainstore.moc"
