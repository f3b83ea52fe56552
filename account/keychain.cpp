#include "account/keychain.h"

#include "base/logging.h"

#include <QStringDecoder>

#ifdef Q_OS_MACOS
#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>
#else
#include <QFileInfo>
#include <libsecret/secret.h>
#endif

#include <memory>

std::optional<QByteArray> InMemorySecretStore::get(const QString &item)
{
    const auto found = items.constFind(item);
    if (found == items.constEnd())
        return std::nullopt;
    return *found;
}

bool InMemorySecretStore::add(const QString &item, const QByteArray &data)
{
    if (failWrites)
        return false;
    items.insert(item, data);
    return true;
}

bool InMemorySecretStore::remove(const QString &item)
{
    items.remove(item);
    return true;
}

namespace {

#ifdef Q_OS_MACOS

// Releases a Core Foundation object it was handed (a "Create" or "Copy" result).
template<typename T> class CFHolder
{
public:
    explicit CFHolder(T ref = nullptr) : m_ref(ref) {}
    ~CFHolder()
    {
        if (m_ref)
            CFRelease(m_ref);
    }
    CFHolder(const CFHolder &) = delete;
    CFHolder &operator=(const CFHolder &) = delete;

    T get() const { return m_ref; }

private:
    T m_ref;
};

// Generic passwords matched by service and account only, so that an item is found whatever
// else was recorded with it.
class AppleKeychainStore final : public SecretStore
{
public:
    std::optional<QByteArray> get(const QString &item) override
    {
        const CFHolder<CFMutableDictionaryRef> query(itemQuery(item));
        if (!query.get())
            return std::nullopt;
        CFDictionarySetValue(query.get(), kSecReturnData, kCFBooleanTrue);
        CFDictionarySetValue(query.get(), kSecMatchLimit, kSecMatchLimitOne);
        CFTypeRef result = nullptr;
        const OSStatus status = SecItemCopyMatching(query.get(), &result);
        const CFHolder<CFTypeRef> owned(result);
        if (status != errSecSuccess) {
            if (status != errSecItemNotFound)
                qCDebug(lcAccount) << "Keychain read failed with status" << int(status);
            return std::nullopt;
        }
        if (!result || CFGetTypeID(result) != CFDataGetTypeID())
            return std::nullopt;
        return QByteArray::fromCFData(static_cast<CFDataRef>(result));
    }

    bool add(const QString &item, const QByteArray &data) override
    {
        const CFHolder<CFMutableDictionaryRef> query(itemQuery(item));
        const CFHolder<CFDataRef> value(data.toCFData());
        if (!query.get() || !value.get())
            return false;
        CFDictionarySetValue(query.get(), kSecValueData, value.get());
        const OSStatus status = SecItemAdd(query.get(), nullptr);
        if (status != errSecSuccess)
            qCDebug(lcAccount) << "Keychain write failed with status" << int(status);
        return status == errSecSuccess;
    }

    bool remove(const QString &item) override
    {
        const CFHolder<CFMutableDictionaryRef> query(itemQuery(item));
        if (!query.get())
            return false;
        // Older keychains delete one match per call; a name must end up with no item at all.
        for (int attempt = 0; attempt < 16; ++attempt) {
            const OSStatus status = SecItemDelete(query.get());
            if (status == errSecItemNotFound)
                return true;
            if (status != errSecSuccess) {
                qCDebug(lcAccount) << "Keychain delete failed with status" << int(status);
                return false;
            }
        }
        return false;
    }

private:
    static CFMutableDictionaryRef itemQuery(const QString &item)
    {
        CFMutableDictionaryRef query = CFDictionaryCreateMutable(
            kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        const CFHolder<CFStringRef> serviceName(QString(Keychain::service).toCFString());
        const CFHolder<CFStringRef> account(item.toCFString());
        if (!query || !serviceName.get() || !account.get()) {
            if (query)
                CFRelease(query);
            return nullptr;
        }
        CFDictionarySetValue(query, kSecClass, kSecClassGenericPassword);
        CFDictionarySetValue(query, kSecAttrService, serviceName.get());
        CFDictionarySetValue(query, kSecAttrAccount, account.get());
        return query;
    }
};

using PlatformSecretStore = AppleKeychainStore;

#else

const SecretSchema *dravlinSchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = Keychain::service.data();
        // Only the two attributes count when looking up or clearing, as on the Mac.
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// Without a configured session bus GLib would try to start one (dbus-launch), which can take long
// and leaves a daemon behind. A store that cannot be reached simply holds nothing.
bool sessionBusConfigured()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/bus"));
}

// Takes the error out of a libsecret call; true when there was one.
bool consumeError(GError *&error, const char *what)
{
    if (!error)
        return false;
    qCDebug(lcAccount) << what << "failed:" << error->message;
    g_error_free(error);
    error = nullptr;
    return true;
}

// The Secret Service through libsecret's blocking calls. They run a private GLib main context of
// their own until the reply is in, so no Qt event is delivered meanwhile.
class LibSecretStore final : public SecretStore
{
public:
    std::optional<QByteArray> get(const QString &item) override
    {
        if (!sessionBusConfigured())
            return std::nullopt;
        const QByteArray account = item.toUtf8();
        GError *error = nullptr;
        gchar *password = secret_password_lookup_sync(dravlinSchema(), nullptr, &error, "service",
                                                      serviceName(), "account", account.constData(), nullptr);
        consumeError(error, "Secret lookup");
        if (!password)
            return std::nullopt;
        const QByteArray data(password);
        secret_password_free(password);
        return data;
    }

    bool add(const QString &item, const QByteArray &data) override
    {
        // The text interface ends a value at its first NUL: storing a shortened value would be
        // worse than storing none.
        if (data.contains('\0') || !sessionBusConfigured())
            return false;
        const QByteArray account = item.toUtf8();
        const QByteArray label = "Dravlin (" + account + ')';
        GError *error = nullptr;
        const gboolean stored = secret_password_store_sync(
            dravlinSchema(), SECRET_COLLECTION_DEFAULT, label.constData(), data.constData(), nullptr, &error,
            "service", serviceName(), "account", account.constData(), nullptr);
        return !consumeError(error, "Secret store") && stored;
    }

    bool remove(const QString &item) override
    {
        if (!sessionBusConfigured())
            return false;
        const QByteArray account = item.toUtf8();
        GError *error = nullptr;
        // Clears every matching item; false with no error just means there was none.
        secret_password_clear_sync(dravlinSchema(), nullptr, &error, "service", serviceName(), "account",
                                   account.constData(), nullptr);
        return !consumeError(error, "Secret removal");
    }

private:
    static const char *serviceName() { return Keychain::service.data(); }
};

using PlatformSecretStore = LibSecretStore;

#endif

struct StoreSlot
{
    std::unique_ptr<SecretStore> store = std::make_unique<PlatformSecretStore>();
    bool platform = true;
};

StoreSlot &currentStore()
{
    static StoreSlot slot;
    return slot;
}

} // namespace

std::optional<QString> Keychain::get(const QString &item)
{
    const std::optional<QByteArray> data = currentStore().store->get(item);
    if (!data)
        return std::nullopt;
    // Stateless: a sequence cut off at the end counts as invalid instead of waiting for more.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(*data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool Keychain::set(const QString &item, const std::optional<QString> &value)
{
    SecretStore &store = *currentStore().store;
    const bool removed = store.remove(item);
    if (!value || value->isEmpty())
        return removed;
    if (store.add(item, value->toUtf8()))
        return true;
    // A write that failed half-way must not leave anything a later read could take for the value.
    store.remove(item);
    return false;
}

void Keychain::remove(const QString &item)
{
    currentStore().store->remove(item);
}

InMemorySecretStore *Keychain::useInMemoryStoreForTesting()
{
    auto fresh = std::make_unique<InMemorySecretStore>();
    InMemorySecretStore *raw = fresh.get();
    currentStore().store = std::move(fresh);
    currentStore().platform = false;
    return raw;
}

bool Keychain::usesPlatformStore()
{
    return currentStore().platform;
}
