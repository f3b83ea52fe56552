#include "account/keychain.h"
#include "testenvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kToken = Keychain::apiTokenItem;
const QString kKey = Keychain::openRouterKeyItem;

// How many items the Secret Service itself files under our service and this name, asked over
// D-Bus without going through libsecret; -1 when it could not be asked.
int itemsInSecretService(const QString &item)
{
    QProcess gdbus;
    QSignalSpy finished(&gdbus, &QProcess::finished);
    const QString attributes =
        QStringLiteral("{'service': '%1', 'account': '%2'}").arg(Keychain::service, item);
    gdbus.start(QStringLiteral("gdbus"),
                {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                 QStringLiteral("org.freedesktop.secrets"), QStringLiteral("--object-path"),
                 QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("--method"),
                 QStringLiteral("org.freedesktop.Secret.Service.SearchItems"), attributes});
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

private slots:
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
        Keychain::remove(kToken);
        Keychain::remove(kKey);
    }

    void aSavedValueReadsBack()
    {
        QCOMPARE(Keychain::get(kToken), std::nullopt);
        QVERIFY(Keychain::set(kToken, QStringLiteral("tok-1")));
        QCOMPARE(Keychain::get(kToken), std::optional<QString>("tok-1"));
        // Really in the Secret Service, under our service and the item's name.
        QCOMPARE(itemsInSecretService(kToken), 1);
    }

    void savingAgainReplacesTheValueWithoutASecondItem()
    {
        QVERIFY(Keychain::set(kToken, QStringLiteral("first")));
        QVERIFY(Keychain::set(kToken, QStringLiteral("second")));
        QCOMPARE(Keychain::get(kToken), std::optional<QString>("second"));
        QCOMPARE(itemsInSecretService(kToken), 1);
    }

    void removingLeavesNoItem()
    {
        QVERIFY(Keychain::set(kToken, QStringLiteral("tok")));
        Keychain::remove(kToken);
        QCOMPARE(Keychain::get(kToken), std::nullopt);
        QCOMPARE(itemsInSecretService(kToken), 0);
        // Removing what is not there is harmless.
        Keychain::remove(kToken);
        QCOMPARE(Keychain::get(kToken), std::nullopt);
    }

    void savingAnEmptyOrAbsentValueRemovesTheItem()
    {
        QVERIFY(Keychain::set(kToken, QStringLiteral("tok")));
        QVERIFY(Keychain::set(kToken, QString()));
        QCOMPARE(Keychain::get(kToken), std::nullopt);
        QCOMPARE(itemsInSecretService(kToken), 0);

        QVERIFY(Keychain::set(kToken, QStringLiteral("tok")));
        QVERIFY(Keychain::set(kToken, std::nullopt));
        QCOMPARE(Keychain::get(kToken), std::nullopt);
        QCOMPARE(itemsInSecretService(kToken), 0);
    }

    void nonAsciiTextSurvivesTheRoundTrip()
    {
        const QString value = QStringLiteral("clé-🔑-ключ");
        QVERIFY(Keychain::set(kKey, value));
        QCOMPARE(Keychain::get(kKey), std::optional<QString>(value));
    }

    void theTwoItemsAreIndependent()
    {
        QVERIFY(Keychain::set(kToken, QStringLiteral("tok")));
        QVERIFY(Keychain::set(kKey, QStringLiteral("key")));
        QCOMPARE(Keychain::get(kToken), std::optional<QString>("tok"));
        QCOMPARE(Keychain::get(kKey), std::optional<QString>("key"));

        QVERIFY(Keychain::set(kKey, QStringLiteral("key-2")));
        QCOMPARE(Keychain::get(kToken), std::optional<QString>("tok"));
        Keychain::remove(kToken);
        QCOMPARE(Keychain::get(kToken), std::nullopt);
        QCOMPARE(Keychain::get(kKey), std::optional<QString>("key-2"));
        QCOMPARE(itemsInSecretService(kKey), 1);
    }

    void withoutASessionBusThereIsNoItemAndNoWait()
    {
        QVERIFY(Keychain::set(kToken, QStringLiteral("tok")));
        const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qunsetenv("XDG_RUNTIME_DIR");
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> read = Keychain::get(kToken);
        const bool written = Keychain::set(kKey, QStringLiteral("key"));
        const qint64 elapsed = clock.elapsed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
        qputenv("XDG_RUNTIME_DIR", runtimeDir);
        QCOMPARE(read, std::nullopt);
        QVERIFY(!written);
        QVERIFY2(elapsed < 2000, qPrintable(QString::number(elapsed)));
        // The bus back, the store is as it was.
        QCOMPARE(Keychain::get(kToken), std::optional<QString>("tok"));
        QCOMPARE(Keychain::get(kKey), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_keychainstore.moc"
