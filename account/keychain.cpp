#include "account/keychain.h"

#include "base/logging.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QStringDecoder>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <deque>
#include <memory>

#ifndef Q_OS_MACOS
#include <libsecret/secret.h>
#endif

void InMemorySecretStore::read(const QString &item, ReadDone done)
{
    // Looked up when it answers, as a real store's queue would.
    QTimer::singleShot(0, this, [this, item, done = std::move(done)] {
        const auto found = items.constFind(item);
        done(found == items.constEnd() ? std::nullopt : std::optional<QByteArray>(*found));
    });
}

void InMemorySecretStore::write(const QString &item, const QByteArray &data, WriteDone done)
{
    QTimer::singleShot(0, this, [this, item, data, done = std::move(done)] {
        if (!failWrites)
            items.insert(item, data);
        done(!failWrites);
    });
}

void InMemorySecretStore::remove(const QString &item, WriteDone done)
{
    QTimer::singleShot(0, this, [this, item, done = std::move(done)] {
        items.remove(item);
        done(true);
    });
}

namespace {

// Without a configured session bus GLib would try to start one (dbus-launch), which can take long
// and leaves a daemon behind. A store that cannot be reached simply holds nothing.
bool storeReachable()
{
#ifdef Q_OS_MACOS
    return true;
#else
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/bus"));
#endif
}

#ifndef Q_OS_MACOS
// Earlier versions filed their items with libsecret directly, under a schema of their own that
// QtKeychain does not look in. Such an item is read once, moved into the store QtKeychain reads,
// and cleared, so an update keeps the user signed in and their key saved.
const SecretSchema *legacySchema()
{
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = Keychain::service.data();
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// The libsecret calls below are asynchronous: a lookup can wait on the keyring's service, or on
// its unlock prompt, and the window must not wait with it. They answer on GLib's main context,
// which Qt's event loop runs here.
using LegacyAnswer = std::function<void(const std::optional<QByteArray> &)>;

void lookUpLegacyItem(const QString &item, GCancellable *cancellable, LegacyAnswer done)
{
    const QByteArray service(Keychain::service.data(), Keychain::service.size());
    const QByteArray account = item.toUtf8();
    secret_password_lookup(
        legacySchema(), cancellable,
        [](GObject *, GAsyncResult *result, gpointer data) {
            const std::unique_ptr<LegacyAnswer> answer(static_cast<LegacyAnswer *>(data));
            GError *error = nullptr;
            gchar *password = secret_password_lookup_finish(result, &error);
            if (error) {
                const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
                if (!cancelled)
                    qCDebug(lcAccount) << "Looking for an earlier version's item failed:" << error->message;
                g_error_free(error);
                // The store that asked has gone: nobody is left to tell.
                if (cancelled)
                    return;
            }
            std::optional<QByteArray> found;
            if (password) {
                found = QByteArray(password);
                secret_password_free(password);
            }
            (*answer)(found);
        },
        new LegacyAnswer(std::move(done)), "service", service.constData(), "account", account.constData(),
        nullptr);
}

void clearLegacyItem(const QString &item)
{
    const QByteArray service(Keychain::service.data(), Keychain::service.size());
    const QByteArray account = item.toUtf8();
    secret_password_clear(
        legacySchema(), nullptr,
        [](GObject *, GAsyncResult *result, gpointer) {
            GError *error = nullptr;
            secret_password_clear_finish(result, &error);
            if (error)
                g_error_free(error);
        },
        nullptr, "service", service.constData(), "account", account.constData(), nullptr);
}
#endif

// QtKeychain's jobs: generic passwords by service and account on the Mac, the Secret Service
// elsewhere. One operation runs at a time and the next starts once it has answered, which keeps the
// order the interface promises even when a read goes on to look for an earlier version's item. A job
// whose store has gone reports to nobody.
class PlatformSecretStore final : public SecretStore
{
public:
    PlatformSecretStore()
    {
#ifndef Q_OS_MACOS
        m_cancellable = g_cancellable_new();
#endif
    }
    ~PlatformSecretStore() override
    {
#ifndef Q_OS_MACOS
        g_cancellable_cancel(m_cancellable);
        g_object_unref(m_cancellable);
#endif
    }

    void read(const QString &item, ReadDone done) override
    {
        enqueue([this, item, done = std::move(done)]() mutable {
            if (!storeReachable())
                return answerLater(std::move(done), std::nullopt);
            auto *job = new QKeychain::ReadPasswordJob(QString(Keychain::service), this);
            job->setKey(item);
            connect(job, &QKeychain::Job::finished, this,
                    [this, item, job, done = std::move(done)]() mutable {
                        if (job->error() == QKeychain::NoError)
                            return answer(done, job->binaryData());
                        if (job->error() != QKeychain::EntryNotFound) {
                            qCDebug(lcAccount) << "Keychain read failed:" << job->errorString();
                            return answer(done, std::nullopt);
                        }
                        notFound(item, std::move(done));
                    });
            job->start();
        });
    }

    void write(const QString &item, const QByteArray &data, WriteDone done) override
    {
        enqueue([this, item, data, done = std::move(done)]() mutable {
            if (!storeReachable())
                return answerLater(std::move(done), false);
            startWrite(item, data, [this, done = std::move(done)](bool ok) { answer(done, ok); });
        });
    }

    void remove(const QString &item, WriteDone done) override
    {
        enqueue([this, item, done = std::move(done)]() mutable {
            if (!storeReachable())
                return answerLater(std::move(done), false);
            auto *job = new QKeychain::DeletePasswordJob(QString(Keychain::service), this);
            job->setKey(item);
            connect(job, &QKeychain::Job::finished, this, [this, job, done = std::move(done)] {
                const bool removed =
                    job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
                if (!removed)
                    qCDebug(lcAccount) << "Keychain delete failed:" << job->errorString();
                answer(done, removed);
            });
            job->start();
        });
    }

private:
    using Operation = std::function<void()>;

    // Nothing where QtKeychain looks. Elsewhere than on the Mac, an earlier version's item is looked
    // for, and one that is found is moved before anything asked later runs, so that nothing asked
    // later is undone by the move.
    void notFound(const QString &item, ReadDone done)
    {
#ifdef Q_OS_MACOS
        Q_UNUSED(item);
        answer(done, std::nullopt);
#else
        const QPointer<PlatformSecretStore> alive(this);
        lookUpLegacyItem(
            item, m_cancellable,
            [this, alive, item, done = std::move(done)](const std::optional<QByteArray> &earlier) {
                if (!alive)
                    return;
                if (!earlier)
                    return answer(done, std::nullopt);
                done(earlier);
                if (!alive)
                    return;
                startWrite(item, *earlier, [this, item](bool moved) {
                    if (moved)
                        clearLegacyItem(item);
                    next();
                });
            });
#endif
    }

    void enqueue(Operation operation)
    {
        m_waiting.push_back(std::move(operation));
        if (!m_running)
            next();
    }
    void next()
    {
        if (m_waiting.empty()) {
            m_running = false;
            return;
        }
        m_running = true;
        Operation operation = std::move(m_waiting.front());
        m_waiting.pop_front();
        operation();
    }
    // Tells the caller, then starts the next operation, unless the caller's answer took the store away.
    template<typename Done, typename Value> void answer(Done &done, const Value &value)
    {
        const QPointer<PlatformSecretStore> alive(this);
        done(value);
        if (alive)
            next();
    }
    // A store that cannot be reached answers failed or empty, never from inside the call.
    template<typename Done, typename Value> void answerLater(Done done, const Value &value)
    {
        QTimer::singleShot(0, this, [this, done = std::move(done), value]() mutable { answer(done, value); });
    }
    void startWrite(const QString &item, const QByteArray &data, std::function<void(bool)> written)
    {
        auto *job = new QKeychain::WritePasswordJob(QString(Keychain::service), this);
        job->setKey(item);
        // As text, so the keyring's own viewer shows it as it is.
        job->setTextData(QString::fromUtf8(data));
        connect(job, &QKeychain::Job::finished, this, [job, written = std::move(written)] {
            if (job->error() != QKeychain::NoError)
                qCDebug(lcAccount) << "Keychain write failed:" << job->errorString();
            written(job->error() == QKeychain::NoError);
        });
        job->start();
    }

    std::deque<Operation> m_waiting;
    bool m_running = false;
#ifndef Q_OS_MACOS
    GCancellable *m_cancellable = nullptr;
#endif
};

// What the process knows of one item, and how many of its writes the store has yet to answer:
// while one is out, neither a read's answer nor an earlier write's failure speaks for the item.
struct ItemState
{
    bool known = false;
    std::optional<QString> value;
    int writesOut = 0;
};

struct State
{
    // Owned by the application object, so it goes (and its jobs with it) before Qt is torn down.
    QPointer<SecretStore> store;
    bool platform = true;
    QHash<QString, ItemState> items;
};

State &state()
{
    static State shared;
    return shared;
}

SecretStore *store()
{
    State &s = state();
    if (!s.store) {
        // The demo's secrets stay in the process: on the Mac there is no keychain of its own to give it.
        if (qEnvironmentVariable("DRAVLIN_SECRET_STORE") == QLatin1String("memory")) {
            s.store = new InMemorySecretStore;
            s.platform = false;
        } else {
            s.store = new PlatformSecretStore;
        }
        s.store->setParent(QCoreApplication::instance());
    }
    return s.store;
}

std::optional<QString> decoded(const std::optional<QByteArray> &data)
{
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

} // namespace

bool Keychain::isKnown(const QString &item)
{
    return state().items.value(item).known;
}

std::optional<QString> Keychain::value(const QString &item)
{
    return state().items.value(item).value;
}

void Keychain::read(const QString &item, QObject *context,
                    std::function<void(const std::optional<QString> &)> done)
{
    const QPointer<QObject> guard(context);
    store()->read(item, [item, guard, done = std::move(done)](const std::optional<QByteArray> &data) {
        const std::optional<QString> text = decoded(data);
        ItemState &known = state().items[item];
        if (known.writesOut == 0) {
            known.known = true;
            known.value = text;
        }
        if (guard && done)
            done(text);
    });
}

void Keychain::write(const QString &item, const std::optional<QString> &value, QObject *context,
                     std::function<void(bool)> done)
{
    const std::optional<QString> wanted = value && !value->isEmpty() ? value : std::nullopt;
    ItemState &known = state().items[item];
    known.known = true;
    known.value = wanted;
    ++known.writesOut;

    const QPointer<QObject> guard(context);
    const bool anyContext = context != nullptr;
    auto answered = [item, guard, anyContext, done = std::move(done)](bool ok) {
        ItemState &now = state().items[item];
        --now.writesOut;
        if (!ok && now.writesOut == 0)
            now.value = std::nullopt;
        if (done && (guard || !anyContext))
            done(ok);
    };
    if (!wanted) {
        store()->remove(item, std::move(answered));
        return;
    }
    store()->write(item, wanted->toUtf8(), [item, answered = std::move(answered)](bool ok) mutable {
        // A refused write may have left the old value in place; a later write still out decides
        // what the item holds instead.
        if (ok || state().items.value(item).writesOut > 1) {
            answered(ok);
            return;
        }
        store()->remove(item, [answered = std::move(answered)](bool) mutable { answered(false); });
    });
}

void Keychain::remove(const QString &item, QObject *context, std::function<void(bool)> done)
{
    write(item, std::nullopt, context, std::move(done));
}

InMemorySecretStore *Keychain::useInMemoryStoreForTesting()
{
    State &s = state();
    delete s.store.data();
    auto *fresh = new InMemorySecretStore;
    fresh->setParent(QCoreApplication::instance());
    s.store = fresh;
    s.platform = false;
    s.items.clear();
    return fresh;
}

bool Keychain::usesPlatformStore()
{
    store();
    return state().platform;
}
