#pragma once

#include <QByteArray>
#include <QHash>
#include <QLatin1String>
#include <QString>

#include <optional>

// Where secrets actually live. Items are addressed by name alone: every implementation files them
// under Keychain::service. All calls are synchronous and made on the main thread.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    // The item's bytes; none when there is no such item or the store cannot be reached.
    virtual std::optional<QByteArray> get(const QString &item) = 0;
    // Adds the item, which the caller has removed first. False when nothing was written.
    virtual bool add(const QString &item, const QByteArray &data) = 0;
    // Deletes every item of that name. A missing item is not a failure.
    virtual bool remove(const QString &item) = 0;
};

// A store that lives and dies with the process, for tests. Writes can be made to fail.
class InMemorySecretStore : public SecretStore
{
public:
    std::optional<QByteArray> get(const QString &item) override;
    bool add(const QString &item, const QByteArray &data) override;
    bool remove(const QString &item) override;

    bool failWrites = false;
    QHash<QString, QByteArray> items;
};

// The platform's secret store (the login keychain on macOS, the Secret Service through libsecret
// elsewhere), reduced to what the account needs: text values by item name. Stateless: every call
// goes to the store. Failures are never shown to anyone; a caller that needs to know whether a
// value was kept reads it back with get().
class Keychain
{
public:
    // The one identifier every item is filed under, on every platform.
    static constexpr QLatin1String service{"app.dravlin.mac"};
    static constexpr QLatin1String apiTokenItem{"api_token"};
    static constexpr QLatin1String openRouterKeyItem{"openrouter_key"};

    // The item's value; none when it is missing, unreadable, not valid UTF-8, or on any error.
    static std::optional<QString> get(const QString &item);
    // Replaces the item: any existing one is deleted first, then a present, non-empty value is
    // stored as UTF-8. An empty or absent value therefore just removes the item. True when the
    // store now holds exactly what was asked for.
    static bool set(const QString &item, const std::optional<QString> &value);
    static void remove(const QString &item);

    // From now on, for the whole process, items live in a fresh, empty in-memory store instead of
    // the platform's. Returns it (owned by the keychain) so tests can script failures.
    static InMemorySecretStore *useInMemoryStoreForTesting();
    // True when the platform's store is the one in use.
    static bool usesPlatformStore();
};
