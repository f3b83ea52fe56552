#include "ui/contentcontroller.h"

#include "account/appupdater.h"

#include "account/dravlinaccount.h"
#include "account/serviceclient.h"
#include "base/settings.h"
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
const QString kDivider = QStringLiteral("divider");

std::function<void(const QUrl &)> &urlOpener()
{
    static std::function<void(const QUrl &)> opener = [](const QUrl &url) {
        QDesktopServices::openUrl(url);
    };
    return opener;
}

// A menu row: what it does (its entry), label, whether it is a choice and chosen, and its keys.
QVariantList entry(const QString &id, const QString &text, std::optional<bool> checked = std::nullopt,
                   const QString &keys = QString())
{
    return {id, text, checked.has_value(), checked.value_or(false),
            keys.isEmpty() ? QString() : QKeySequence(keys).toString(QKeySequence::NativeText)};
}

// A picker row: key, kind, label, value. Headings are keyed by their text, models by their id.
QVariantList pickerEntry(const QString &kind, const QString &text, const QString &value = QString())
{
    return {kind + QLatin1Char(':') + (value.isEmpty() ? text : value), kind, text, value};
}
} // namespace

ContentController::ContentController(QObject *parent)
    : QObject(parent), m_session(new DrawSession(this)), m_account(new DravlinAccount(this)),
      m_menu(new RowsModel({"entry", "label", "choice", "chosen", "shortcut"}, this)),
      m_picker(new RowsModel({"key", "kind", "label", "value"}, this))
{
    DrawSession *s = m_session;
    ModelCatalog *catalog = s->catalog();
    DravlinAccount *a = m_account;
    // Only a real change is told: the window moves the keyboard to the prompt on it, and a list
    // refreshed under a user who has tabbed elsewhere must leave their focus where it is.
    const auto updateCanDraw = [this] {
        const bool now = canDraw();
        if (std::exchange(m_canDraw, now) != now)
            Q_EMIT canDrawChanged();
    };
    for (auto signal : {&ModelCatalog::installedChanged, &ModelCatalog::cloudModelsChanged})
        connect(catalog, signal, this, updateCanDraw);
    connect(a, &DravlinAccount::signedInChanged, this, updateCanDraw);

    connect(s, &DrawSession::publishLocalChanged, this, &ContentController::menuEntriesChanged);
    connect(s->canvas(), &CanvasController::animationsPausedChanged, this,
            &ContentController::menuEntriesChanged);
    for (auto signal : {&DravlinAccount::signedInChanged, &DravlinAccount::usernameChanged})
        connect(a, signal, this, &ContentController::menuEntriesChanged);
    connect(this, &ContentController::menuEntriesChanged, this, &ContentController::updateMenu);

    for (auto signal : {&ModelCatalog::installedChanged, &ModelCatalog::cloudModelsChanged})
        connect(catalog, signal, this, &ContentController::pickerEntriesChanged);
    for (auto signal : {&DravlinAccount::signedInChanged, &DravlinAccount::hasOpenRouterKeyChanged})
        connect(a, signal, this, &ContentController::pickerEntriesChanged);
    connect(this, &ContentController::pickerEntriesChanged, this, &ContentController::updatePicker);

    for (auto signal :
         {&DravlinAccount::usernameChanged, &DravlinAccount::emailChanged, &DravlinAccount::signedInChanged})
        connect(a, signal, this, &ContentController::accountTextsChanged);

    for (auto signal : {&ModelCatalog::selectedModelChanged, &ModelCatalog::selectionDetailsChanged})
        connect(catalog, signal, this, &ContentController::paymentChanged);
    connect(s, &DrawSession::payWithChanged, this, &ContentController::paymentChanged);
    for (auto signal : {&DravlinAccount::creditsChanged, &DravlinAccount::hasOpenRouterKeyChanged})
        connect(a, signal, this, &ContentController::paymentChanged);

    connect(s, &DrawSession::publishedURLChanged, this, &ContentController::publishedLinkTextChanged);
    connect(&Settings::shared(), &Settings::examplesDismissedChanged, this,
            &ContentController::examplesDismissedChanged);

    // Stillness, once asked for, is kept for every drawing and every window after.
    const auto applyPause = [s] {
        if (const std::optional<bool> paused = Settings::shared().pauseAnimations())
            s->canvas()->setAnimationsPaused(*paused);
    };
    applyPause();
    connect(&Settings::shared(), &Settings::pauseAnimationsChanged, this, applyPause);
    updateMenu();
    updatePicker();
}

ContentController::~ContentController() = default;

bool ContentController::canDraw() const
{
    const ModelCatalog *catalog = m_session->catalog();
    return catalog->installedCount() > 0 || (m_account->signedIn() && !catalog->cloudModels().isEmpty());
}

bool ContentController::examplesDismissed() const
{
    return Settings::shared().examplesDismissed();
}

void ContentController::setExamplesDismissed(bool dismissed)
{
    Settings::shared().setExamplesDismissed(dismissed);
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
    return {tr("a lighthouse at sunset"), tr("a sleeping fox curled up"), tr("a sailboat on choppy seas"),
            tr("a bowl of ramen")};
}

QString ContentController::serviceHost()
{
    return ServiceClient::baseURL().host();
}

QString ContentController::localModelsSection()
{
#ifdef Q_OS_MACOS
    return tr("On this Mac");
#else
    return tr("On this computer");
#endif
}

QString ContentController::keyStorageNote()
{
#ifdef Q_OS_MACOS
    return tr(
        "Stored in your Mac's Keychain and sent with each drawing request to the Dravlin service, which "
        "passes it to OpenRouter.");
#else
    return tr("Stored in your system's keyring and sent with each drawing request to the Dravlin service, "
              "which passes it to OpenRouter.");
#endif
}

void ContentController::updateMenu()
{
    QList<QVariantList> entries;
    if (m_updateVersion) {
        entries << entry(QStringLiteral("update"), tr("↑ Update to %1").arg(*m_updateVersion))
                << entry(kDivider, QString());
    }
    entries << entry(QStringLiteral("getModels"), tr("Get more models…"))
            << entry(QStringLiteral("openRouterKey"), tr("OpenRouter key…"))
            << entry(QStringLiteral("history"), tr("History…"), std::nullopt, historyShortcut())
            << entry(QStringLiteral("pauseAnimations"), tr("Pause animations"),
                     m_session->canvas()->animationsPaused())
            << entry(kDivider, QString());
    const std::optional<QString> username = m_account->username();
    if (m_account->signedIn() && username && !username->isEmpty())
        entries << entry(QStringLiteral("profile"), tr("My profile (@%1)").arg(*username));
    // Someone who draws locally for privacy can keep those drawings on the machine.
    if (m_account->signedIn())
        entries << entry(QStringLiteral("publishLocal"), tr("Publish local drawings"),
                         m_session->publishLocal());
    entries << entry(QStringLiteral("drawings"), tr("Drawings"))
            << entry(QStringLiteral("models"), tr("Models"));
#ifndef Q_OS_MACOS
    // The Mac has this in its application menu; elsewhere the window is the only menu there is.
    entries << entry(kDivider, QString())
            << entry(QStringLiteral("checkForUpdates"), tr("Check for Updates…"));
#endif
    m_menu->setRows(entries);
}

void ContentController::updatePicker()
{
    QList<QVariantList> entries;
    const QList<OllamaModel> local = m_session->catalog()->installed();
    if (!local.isEmpty()) {
        entries << pickerEntry(QStringLiteral("section"), localModelsSection());
        for (const OllamaModel &model : local)
            entries << pickerEntry(QStringLiteral("model"), model.name, model.name);
    }
    const QList<CloudModel> cloud = m_session->catalog()->cloudModels();
    if ((m_account->signedIn() || m_account->hasOpenRouterKey()) && !cloud.isEmpty()) {
        entries << pickerEntry(QStringLiteral("section"), tr("Cloud"));
        for (const CloudModel &model : cloud)
            entries << pickerEntry(QStringLiteral("model"), model.name, model.id);
    }
    m_picker->setRows(entries);
}

QList<std::pair<QString, QString>> ContentController::pickerKindsAndTexts() const
{
    QList<std::pair<QString, QString>> entries;
    for (int i = 0; i < m_picker->count(); ++i)
        entries.append({m_picker->value(i, "kind").toString(), m_picker->value(i, "label").toString()});
    return entries;
}

int ContentController::pickerStart() const
{
    const int chosen = m_picker->indexOf(QStringLiteral("model:") + m_session->catalog()->selectedModel());
    return chosen >= 0 ? chosen : pickerStep(-1, QStringLiteral("home"));
}

int ContentController::pickerStep(int from, const QString &move) const
{
    return pickerStep(pickerKindsAndTexts(), from, move);
}

int ContentController::pickerFind(int from, const QString &typed) const
{
    return pickerFind(pickerKindsAndTexts(), from, typed);
}

int ContentController::pickerStep(const QList<std::pair<QString, QString>> &entries, int from,
                                  const QString &move)
{
    const auto isModel = [&entries](qsizetype at) {
        return entries.at(at).first == QLatin1String("model");
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

int ContentController::pickerFind(const QList<std::pair<QString, QString>> &entries, int from,
                                  const QString &typed)
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
        if (entries.at(at).first == QLatin1String("model") &&
            entries.at(at).second.startsWith(prefix, Qt::CaseInsensitive))
            return int(at);
    }
    return from;
}

QString ContentController::footerIdentity() const
{
    const QString username = m_account->username().value_or(QString());
    const QString email = m_account->email().value_or(QString());
    if (username.isEmpty() && email.isEmpty())
        return tr("Publishing as you");
    return tr("Publishing as %1").arg(!username.isEmpty() ? QLatin1Char('@') + username : email);
}

QString ContentController::promptHeader() const
{
    const QString username = m_account->username().value_or(QString());
    return username.isEmpty() ? tr("Prompt") : QLatin1Char('@') + username;
}

bool ContentController::showPayment() const
{
    return m_session->catalog()->selectedIsCloud();
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
    return tr("published → %1").arg(host + url.path());
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
    m_session->catalog()->refreshModels([this] {
        m_modelsKnown = true;
        Q_EMIT modelsKnownChanged();
        if (!m_pendingURL.isEmpty())
            handleOpenURL(std::exchange(m_pendingURL, QUrl()));
        m_session->catalog()->refreshRecommended([this] {
            m_session->catalog()->loadFavorites([this] {
                connect(
                    m_account, &DravlinAccount::creditsRefreshed, this,
                    [this] {
                        checkForUpdate();
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
        Settings::shared().setPauseAnimations(paused);
    } else if (id == QLatin1String("publishLocal"))
        m_session->setPublishLocal(!m_session->publishLocal());
    else if (id == QLatin1String("drawings"))
        openWeb({QStringLiteral("drawings")});
    else if (id == QLatin1String("models"))
        openWeb({QStringLiteral("models")});
}

void ContentController::checkForUpdate()
{
    AppUpdater::latestIfNewer(this, [this](const std::optional<AppUpdate> &update) {
        if (update && m_updateVersion != update->version) {
            m_updateVersion = update->version;
            updateMenu();
        }
        Q_EMIT updateChecked();
    });
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
    return isPickableImage(fileUrl) && m_session->reference()->attach(fileUrl);
}

bool ContentController::dropImage(const QList<QUrl> &urls)
{
    if (!m_session->catalog()->selectedIsVision() || urls.isEmpty())
        return false;
    return pickImage(urls.first());
}

bool ContentController::pasteImage()
{
    return takeImage(QGuiApplication::clipboard()->mimeData());
}

bool ContentController::takeImage(const QMimeData *data)
{
    if (!data || !m_session->catalog()->selectedIsVision())
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
    return m_session->reference()->attachBytes(png);
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
    const QList<OllamaModel> installed = m_session->catalog()->installed();
    for (const OllamaModel &candidate : installed) {
        // A name made only of colons has no family at all.
        const bool onlyColons = candidate.name.count(QLatin1Char(':')) == candidate.name.size();
        if (!onlyColons && Catalog::familyName(candidate.name) == model->second) {
            m_session->catalog()->setSelectedModel(candidate.name);
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
