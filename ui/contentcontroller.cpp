#include "ui/contentcontroller.h"

#include "account/dravlinaccount.h"
#include "account/preferences.h"
#include "account/serviceclient.h"
#include "session/catalog.h"
#include "session/drawsession.h"

#include <QBuffer>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QKeySequence>
#include <QMimeData>
#include <QUrlQuery>

#include <utility>

namespace {
const QString kExamplesDismissedKey = QStringLiteral("DravlinExamplesDismissed");
const QString kDivider = QStringLiteral("divider");
const QString kPauseAnimationsKey = QStringLiteral("DravlinPauseAnimations");

std::function<void(const QUrl &)> &urlOpener()
{
    static std::function<void(const QUrl &)> opener = [](const QUrl &url) {
        QDesktopServices::openUrl(url);
    };
    return opener;
}

QVariantMap entry(const QString &id, const QString &text, std::optional<bool> checked = std::nullopt)
{
    QVariantMap map{{QStringLiteral("id"), id}, {QStringLiteral("text"), text}};
    if (checked)
        map.insert(QStringLiteral("checked"), *checked);
    return map;
}

QVariantMap withShortcut(QVariantMap item, const QString &keys)
{
    item.insert(QStringLiteral("shortcut"), QKeySequence(keys).toString(QKeySequence::NativeText));
    return item;
}

QVariantMap pickerEntry(const QString &kind, const QString &text, const QString &value = QString())
{
    return {{QStringLiteral("kind"), kind}, {QStringLiteral("text"), text}, {QStringLiteral("value"), value}};
}
} // namespace

ContentController::ContentController(QObject *parent)
    : QObject(parent), m_session(new DrawSession(this)), m_account(new DravlinAccount(this))
{
    DrawSession *s = m_session;
    DravlinAccount *a = m_account;
    for (auto signal : {&DrawSession::modelsChanged, &DrawSession::cloudModelsChanged})
        connect(s, signal, this, &ContentController::canDrawChanged);
    connect(a, &DravlinAccount::signedInChanged, this, &ContentController::canDrawChanged);

    for (auto signal : {&DrawSession::updateVersionChanged, &DrawSession::publishLocalChanged})
        connect(s, signal, this, &ContentController::menuEntriesChanged);
    for (auto signal : {&DravlinAccount::signedInChanged, &DravlinAccount::usernameChanged})
        connect(a, signal, this, &ContentController::menuEntriesChanged);

    for (auto signal : {&DrawSession::modelsChanged, &DrawSession::cloudModelsChanged})
        connect(s, signal, this, &ContentController::pickerEntriesChanged);
    for (auto signal : {&DravlinAccount::signedInChanged, &DravlinAccount::hasOpenRouterKeyChanged})
        connect(a, signal, this, &ContentController::pickerEntriesChanged);

    for (auto signal :
         {&DravlinAccount::usernameChanged, &DravlinAccount::emailChanged, &DravlinAccount::signedInChanged})
        connect(a, signal, this, &ContentController::accountTextsChanged);

    for (auto signal : {&DrawSession::selectedModelChanged, &DrawSession::payWithChanged,
                        &DrawSession::selectionDetailsChanged})
        connect(s, signal, this, &ContentController::paymentChanged);
    for (auto signal : {&DravlinAccount::creditsChanged, &DravlinAccount::hasOpenRouterKeyChanged})
        connect(a, signal, this, &ContentController::paymentChanged);

    connect(s, &DrawSession::publishedURLChanged, this, &ContentController::publishedLinkTextChanged);

    // Stillness, once asked for, is kept for every drawing and every window after.
    const QVariant paused = Preferences::value(kPauseAnimationsKey);
    if (paused.isValid())
        s->canvas()->setAnimationsPaused(paused.toBool());
    connect(s->canvas(), &CanvasController::animationsPausedChanged, this,
            &ContentController::menuEntriesChanged);
}

ContentController::~ContentController() = default;

bool ContentController::canDraw() const
{
    return !m_session->models().isEmpty() || (m_account->signedIn() && !m_session->cloudModels().isEmpty());
}

bool ContentController::examplesDismissed() const
{
    return Preferences::value(kExamplesDismissedKey, false).toBool();
}

void ContentController::setExamplesDismissed(bool dismissed)
{
    if (examplesDismissed() == dismissed)
        return;
    Preferences::setValue(kExamplesDismissedKey, dismissed);
    Q_EMIT examplesDismissedChanged();
}

void ContentController::setShowGetModels(bool show)
{
    if (m_showGetModels == show)
        return;
    m_showGetModels = show;
    Q_EMIT showGetModelsChanged();
}

void ContentController::setShowKeySheet(bool show)
{
    if (m_showKeySheet == show)
        return;
    m_showKeySheet = show;
    Q_EMIT showKeySheetChanged();
}

QStringList ContentController::examplePrompts()
{
    return {QStringLiteral("a lighthouse at sunset"), QStringLiteral("a sleeping fox curled up"),
            QStringLiteral("a sailboat on choppy seas"), QStringLiteral("a bowl of ramen")};
}

QString ContentController::serviceHost()
{
    return ServiceClient::baseURL().host();
}

QString ContentController::localModelsSection()
{
#ifdef Q_OS_MACOS
    return QStringLiteral("On this Mac");
#else
    return QStringLiteral("On this computer");
#endif
}

QString ContentController::keyStorageNote()
{
#ifdef Q_OS_MACOS
    return QStringLiteral("Stored in your Mac's Keychain and sent with each drawing request to the Dravlin "
                          "service, which passes it to OpenRouter.");
#else
    return QStringLiteral("Stored in your system's keyring and sent with each drawing request to the Dravlin "
                          "service, which passes it to OpenRouter.");
#endif
}

QVariantList ContentController::menuEntries() const
{
    QVariantList entries;
    if (const std::optional<QString> version = m_session->updateVersion()) {
        entries << entry(QStringLiteral("update"), QString::fromUtf16(u"\u2191 Update to ") + *version)
                << entry(kDivider, QString());
    }
    entries << entry(QStringLiteral("getModels"), QString::fromUtf16(u"Get more models\u2026"))
            << entry(QStringLiteral("openRouterKey"), QString::fromUtf16(u"OpenRouter key\u2026"))
            << withShortcut(entry(QStringLiteral("history"), QString::fromUtf16(u"History\u2026")),
                            historyShortcut())
            << entry(QStringLiteral("pauseAnimations"), QStringLiteral("Pause animations"),
                     m_session->canvas()->animationsPaused())
            << entry(kDivider, QString());
    const std::optional<QString> username = m_account->username();
    if (m_account->signedIn() && username && !username->isEmpty())
        entries << entry(QStringLiteral("profile"),
                         QStringLiteral("My profile (@") + *username + QLatin1Char(')'));
    // Someone who draws locally for privacy can keep those drawings on the machine.
    if (m_account->signedIn())
        entries << entry(QStringLiteral("publishLocal"), QStringLiteral("Publish local drawings"),
                         m_session->publishLocal());
    entries << entry(QStringLiteral("drawings"), QStringLiteral("Drawings"))
            << entry(QStringLiteral("models"), QStringLiteral("Models"));
#ifndef Q_OS_MACOS
    // The Mac has this in its application menu; elsewhere the window is the only menu there is.
    entries << entry(kDivider, QString())
            << entry(QStringLiteral("checkForUpdates"), QString::fromUtf16(u"Check for Updates\u2026"));
#endif
    return entries;
}

QVariantList ContentController::pickerEntries() const
{
    QVariantList entries;
    const QList<OllamaModel> local = m_session->models();
    if (!local.isEmpty()) {
        entries << pickerEntry(QStringLiteral("section"), localModelsSection());
        for (const OllamaModel &model : local)
            entries << pickerEntry(QStringLiteral("model"), model.name, model.name);
    }
    const QList<CloudModel> cloud = m_session->cloudModels();
    if ((m_account->signedIn() || m_account->hasOpenRouterKey()) && !cloud.isEmpty()) {
        entries << pickerEntry(QStringLiteral("section"), QStringLiteral("Cloud"));
        for (const CloudModel &model : cloud)
            entries << pickerEntry(QStringLiteral("model"), model.name, model.id);
    }
    return entries;
}

int ContentController::pickerStep(int from, const QString &move) const
{
    return pickerStep(pickerEntries(), from, move);
}

int ContentController::pickerFind(int from, const QString &typed) const
{
    return pickerFind(pickerEntries(), from, typed);
}

int ContentController::pickerStep(const QVariantList &entries, int from, const QString &move)
{
    const auto isModel = [&entries](qsizetype at) {
        return entries.at(at).toMap().value(QStringLiteral("kind")).toString() == QLatin1String("model");
    };
    const qsizetype count = entries.size();
    if (move == QLatin1String("home") || move == QLatin1String("end")) {
        const bool forward = move == QLatin1String("home");
        for (qsizetype i = forward ? 0 : count - 1; i >= 0 && i < count; i += forward ? 1 : -1) {
            if (isModel(i))
                return int(i);
        }
        return from;
    }
    const int direction = move == QLatin1String("up") ? -1 : move == QLatin1String("down") ? 1 : 0;
    if (direction == 0)
        return from;
    for (qsizetype i = qsizetype(from) + direction; i >= 0 && i < count; i += direction) {
        if (isModel(i))
            return int(i);
    }
    // Nothing further that way; from nowhere, the first model there is.
    return from >= 0
               ? from
               : pickerStep(entries, -1, direction > 0 ? QStringLiteral("home") : QStringLiteral("end"));
}

int ContentController::pickerFind(const QVariantList &entries, int from, const QString &typed)
{
    const QString prefix = typed.trimmed();
    const qsizetype count = entries.size();
    if (prefix.isEmpty() || count == 0)
        return from;
    // A first letter looks past the current row (pressing it again goes to the next such name);
    // more letters refine the name the current row already starts with.
    const qsizetype first = prefix.size() > 1 ? 0 : 1;
    for (qsizetype step = first; step < first + count; ++step) {
        const qsizetype at = (qMax<qsizetype>(from, -1) + step + count) % count;
        const QVariantMap item = entries.at(at).toMap();
        if (item.value(QStringLiteral("kind")).toString() == QLatin1String("model") &&
            item.value(QStringLiteral("text")).toString().startsWith(prefix, Qt::CaseInsensitive))
            return int(at);
    }
    return from;
}

QString ContentController::footerIdentity() const
{
    const QString username = m_account->username().value_or(QString());
    const QString email = m_account->email().value_or(QString());
    const QString who = !username.isEmpty() ? QLatin1Char('@') + username
                        : !email.isEmpty()  ? email
                                            : QStringLiteral("you");
    return QStringLiteral("Publishing as ") + who;
}

QString ContentController::promptHeader() const
{
    const QString username = m_account->username().value_or(QString());
    return username.isEmpty() ? QStringLiteral("Prompt") : QLatin1Char('@') + username;
}

bool ContentController::showPayment() const
{
    return m_session->selectedIsCloud();
}

QString ContentController::balanceText() const
{
    const std::optional<double> credits = m_account->credits();
    if (m_session->payWith() != QLatin1String("credits") || !credits)
        return QString();
    return QString::asprintf("$%.2f", *credits);
}

bool ContentController::showKeyWarning() const
{
    return m_session->payWith() == QLatin1String("key") && !m_account->hasOpenRouterKey();
}

QString ContentController::publishedLinkText() const
{
    const QUrl url = m_session->publishedURL();
    if (url.isEmpty())
        return QString();
    const QString host = url.host().isEmpty() ? serviceHost() : url.host();
    return QString::fromUtf16(u"published \u2192 ") + host + url.path();
}

void ContentController::appear()
{
    if (m_appearing)
        return;
    // Who is signed in comes first: the favourites and the balance are theirs.
    if (!m_account->isLoaded()) {
        connect(m_account, &DravlinAccount::loaded, this, &ContentController::appear,
                Qt::SingleShotConnection);
        return;
    }
    m_appearing = true;
    m_session->setAccount(m_account);
    // Each step waits for the one before. The session and the account are ours, so a window that
    // closes midway takes the remaining steps with it.
    m_session->refreshModels([this] {
        m_modelsKnown = true;
        Q_EMIT modelsKnownChanged();
        if (!m_pendingURL.isEmpty())
            handleOpenURL(std::exchange(m_pendingURL, QUrl()));
        m_session->refreshRecommended([this] {
            m_session->loadFavorites([this] {
                connect(
                    m_account, &DravlinAccount::creditsRefreshed, this,
                    [this] {
                        m_session->checkForUpdate();
                        Q_EMIT appeared();
                    },
                    Qt::SingleShotConnection);
                m_account->refreshCredits();
            });
        });
    });
}

void ContentController::activateMenuEntry(const QString &id)
{
    if (id == QLatin1String("update"))
        openLink(ServiceClient::endpoint(QString::fromLatin1(ServicePages::download)));
    else if (id == QLatin1String("getModels"))
        setShowGetModels(true);
    else if (id == QLatin1String("openRouterKey"))
        setShowKeySheet(true);
    else if (id == QLatin1String("history"))
        Q_EMIT historyRequested();
    else if (id == QLatin1String("profile") && m_account->username())
        openWeb({QLatin1Char('@') + *m_account->username()});
    else if (id == QLatin1String("pauseAnimations")) {
        const bool paused = !m_session->canvas()->animationsPaused();
        m_session->canvas()->setAnimationsPaused(paused);
        Preferences::setValue(kPauseAnimationsKey, paused);
    } else if (id == QLatin1String("publishLocal"))
        m_session->setPublishLocal(!m_session->publishLocal());
    else if (id == QLatin1String("drawings"))
        openWeb({QStringLiteral("drawings")});
    else if (id == QLatin1String("models"))
        openWeb({QStringLiteral("models")});
}

void ContentController::useExample(const QString &prompt)
{
    setExamplesDismissed(true);
    m_session->start(prompt);
}

bool ContentController::isPickableImage(const QUrl &fileUrl)
{
    if (!fileUrl.isLocalFile())
        return false;
    static const QStringList kinds{QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                   QStringLiteral("gif"), QStringLiteral("webp")};
    return kinds.contains(QFileInfo(fileUrl.toLocalFile()).suffix().toLower());
}

bool ContentController::pickImage(const QUrl &fileUrl)
{
    return isPickableImage(fileUrl) && m_session->attachReference(fileUrl);
}

bool ContentController::dropImage(const QList<QUrl> &urls)
{
    if (!m_session->selectedIsVision() || urls.isEmpty())
        return false;
    return pickImage(urls.first());
}

bool ContentController::pasteImage()
{
    return takeImage(QGuiApplication::clipboard()->mimeData());
}

bool ContentController::takeImage(const QMimeData *data)
{
    if (!data || !m_session->selectedIsVision())
        return false;
    if (data->hasUrls() && !data->urls().isEmpty() && isPickableImage(data->urls().first()))
        return pickImage(data->urls().first());
    if (!data->hasImage())
        return false;
    const QImage image = qvariant_cast<QImage>(data->imageData());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG"))
        return false;
    return m_session->attachReferenceBytes(png);
}

void ContentController::openLink(const QUrl &url)
{
    openWebAddress(url);
}

void ContentController::openWebAddress(const QUrl &url)
{
    const QUrl web = ServiceClient::webAddress(url.toString(QUrl::FullyEncoded));
    if (!web.isEmpty())
        urlOpener()(web);
}

QUrl ContentController::webURL(const QUrl &base, const QStringList &segments)
{
    QStringList encoded;
    for (const QString &segment : segments)
        encoded << QString::fromLatin1(QUrl::toPercentEncoding(segment, "@"));
    return ServiceClient::endpoint(base, encoded.join(QLatin1Char('/')));
}

void ContentController::openWeb(const QStringList &segments)
{
    openLink(webURL(ServiceClient::baseURL(), segments));
}

void ContentController::handleOpenURL(const QUrl &url)
{
    if (url.host() != QLatin1String("draw"))
        return;
    const QList<std::pair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    const auto model = std::find_if(items.cbegin(), items.cend(),
                                    [](const auto &item) { return item.first == QLatin1String("model"); });
    if (model == items.cend() || model->second.isEmpty())
        return;
    const QList<OllamaModel> installed = m_session->models();
    for (const OllamaModel &candidate : installed) {
        // A name made only of colons has no family at all.
        const bool onlyColons = candidate.name.count(QLatin1Char(':')) == candidate.name.size();
        if (!onlyColons && Catalog::familyName(candidate.name) == model->second) {
            m_session->setSelectedModel(candidate.name);
            return;
        }
    }
    setShowGetModels(true);
}

void ContentController::receiveURL(const QUrl &url)
{
    // Until the installed models are known every model would look missing.
    if (m_modelsKnown)
        handleOpenURL(url);
    else
        m_pendingURL = url;
}

void ContentController::setUrlOpener(std::function<void(const QUrl &)> opener)
{
    urlOpener() = std::move(opener);
}
