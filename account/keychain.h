#pragma once

#include <QByteArray>
#include <QHash>
#include <QLatin1String>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// Where secrets actually live. Items are addressed by name alone: every implementation files them
// under Keychain::service. Each call answers once through its callback, later (never from inside
// the call) and in the order the calls were made; a store that is deleted answers nothing more.
class SecretStore : public QObject
{
public:
    using ReadDone = std::function<void(const std::optional<QByteArray> &)>;
    using WriteDone = std::function<void(bool)>;

    // The item's bytes; none when there is no such item or the store cannot be reached.
    virtual void read(const QString &item, ReadDone done) = 0;
    // Stores the item in place of any of that name. False when the store refused it.
    virtual void write(const QString &item, const QByteArray &data, WriteDone done) = 0;
    // Deletes the item. A missing item is not a failure.
    virtual void remove(const QString &item, WriteDone done) = 0;
};

// A store that lives and dies with the process, for tests. It answers from the event loop, as the
// platform's does, and its writes can be made to fail.
class InMemorySecretStore final : public SecretStore
{
public:
    void read(const QString &item, ReadDone done) override;
    void write(const QString &item, const QByteArray &data, WriteDone done) override;
    void remove(const QString &item, WriteDone done) override;

    bool failWrites = false;
    QHash<QString, QByteArray> items;
};

// The platform's secret store (the login keychain on macOS, the Secret Service elsewhere, both
// through QtKeychain), reduced to what the account needs: text values by item name. Reading and
// writing are asynchronous; what the process last read or asked to write is known at once, so that
// a request can carry the token the moment it is built. Failures are never shown to anyone.
class Keychain
{
public:
    // The one identifier every item is filed under, on every platform.
    static constexpr QLatin1String service{"app.dravlin.mac"};
    static constexpr QLatin1String apiTokenItem{"api_token"};
    static constexpr QLatin1String openRouterKeyItem{"openrouter_key"};

    // Whether the item's value is known in this process: read from the store, or asked to be
    // written, since the store came into use.
    static bool isKnown(const QString &item);
    // The item's value as known in this process; none when unknown, missing or unreadable. After a
    // write it is the value asked for; once that write has failed, none.
    static std::optional<QString> value(const QString &item);

    // Reads the item from the store. done runs once with its value (none when it is missing,
    // unreadable, not valid UTF-8, or on any error), unless context has gone first.
    static void read(const QString &item, QObject *context,
                     std::function<void(const std::optional<QString> &)> done);
    // Replaces the item with a present, non-empty value, stored as UTF-8; an empty or absent value
    // removes it. done (unless context has gone first; with no context, always) is told whether
    // the store now holds exactly what was asked for. A write that fails leaves no item behind.
    static void write(const QString &item, const std::optional<QString> &value, QObject *context = nullptr,
                      std::function<void(bool)> done = {});
    static void remove(const QString &item, QObject *context = nullptr, std::function<void(bool)> done = {});

    // From now on, for the whole process, items live in a fresh, empty in-memory store instead of
    // the platform's, and nothing is known of them. Returns the store (owned by the keychain) so
    // tests can fill it and script failures.
    static InMemorySecretStore *useInMemoryStoreForTesting();
    // True when the platform's store is the one in use.
    static bool usesPlatformStore();
};
