#include "standin/serviceserver.h"

#include "standin/linepacer.h"
#include "standin/recordings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace {
// The download page the running platform's app asks for.
#ifdef Q_OS_MACOS
const QString kOwnDownload = QStringLiteral("/download/mac");
#else
const QString kOwnDownload = QStringLiteral("/download/linux");
#endif

const QByteArray kJson = "application/json; charset=utf-8";
const QByteArray kHtml = "text/html; charset=utf-8";
// Pages load nothing from anywhere but this service, and run no script.
const HttpHeaders kPageHeaders{
    {"Content-Security-Policy", "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'"},
    {"X-Content-Type-Options", "nosniff"}};
constexpr int kGalleryLimit = 60;
constexpr int kMaxFavorites = 100;

QJsonObject errorObject(const QString &message)
{
    return {{QStringLiteral("error"), message}};
}

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString money(double dollars)
{
    return QStringLiteral("$") + QString::number(dollars, 'f', 2);
}

// Without navigation for the sign-in page, which should lead nowhere but back to the app.
QByteArray page(const QString &title, const QString &body, bool withNavigation = true)
{
    static const QString style = QStringLiteral(
        "body{font-family:Inter,system-ui,sans-serif;background:#16161a;color:#eee;margin:0;padding:32px "
        "48px}"
        "a{color:#9ecbff;text-decoration:none}h1{font-weight:600;font-size:26px;margin:0 0 24px}"
        ".grid{display:grid;grid-template-columns:repeat(auto-fill,minmax(240px,1fr));gap:20px}"
        ".card{background:#222228;border-radius:12px;overflow:hidden}.card img{width:100%;aspect-ratio:4/3;"
        "object-fit:contain;background:#2a2a30;display:block}.card p{margin:10px 12px;font-size:14px}"
        ".meta{color:#999;font-size:12px!important}.big{max-width:720px;width:100%;background:#fff;border-"
        "radius:12px}"
        "form{background:#222228;padding:28px;border-radius:12px;max-width:360px}input{font-size:16px;"
        "padding:8px;"
        "width:100%;box-sizing:border-box;margin:8px 0 16px;border-radius:6px;border:1px solid "
        "#555;background:#111;"
        "color:#eee;font:inherit}button{font:inherit;font-size:15px;padding:8px "
        "20px;border-radius:6px;border:0;background:#4f7cff;color:#fff}"
        "nav{margin-bottom:28px;color:#888}nav "
        "a{margin-right:16px}pre{white-space:pre-wrap;color:#bbb;font-size:13px}");
    const QString html =
        QStringLiteral("<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>%1</title>"
                       "<style>%2</style></head><body>%3<h1>%1</h1>%4</body></html>")
            .arg(escaped(title), style,
                 withNavigation
                     ? QStringLiteral("<nav><a href=\"/drawings\">Drawings</a><a href=\"/models\">Models</a>"
                                      "<a href=\"/download/mac\">Download</a></nav>")
                     : QString(),
                 body);
    return html.toUtf8();
}

std::optional<QString> stringMember(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

} // namespace

ServiceServer::ServiceServer(Options options, QObject *parent)
    : QObject(parent), m_options(std::move(options)),
      m_store(std::make_unique<ServiceStore>(m_options.databasePath)),
      m_http([this](const HttpRequest &request, HttpResponder *responder) { handle(request, responder); },
             this)
{
    QFile catalog(QStringLiteral(":/standin/recommended-models.json"));
    if (catalog.open(QIODevice::ReadOnly))
        m_catalog = QJsonDocument::fromJson(catalog.readAll()).object();
}

bool ServiceServer::ready(QString *why) const
{
    if (!m_store->ok() && why)
        *why = m_store->error();
    return m_store->ok();
}

QString ServiceServer::drawingURL(qint64 id) const
{
    return url().toString() + QStringLiteral("/drawings/") + QString::number(id);
}

std::optional<QJsonObject> ServiceServer::cloudModel(const QString &id) const
{
    for (const QJsonValue &value : m_catalog.value(QStringLiteral("cloud_catalog")).toArray()) {
        if (value.toObject().value(QStringLiteral("id")).toString() == id)
            return value.toObject();
    }
    return std::nullopt;
}

void ServiceServer::handle(const HttpRequest &request, HttpResponder *responder)
{
    const QString &path = request.path;
    const QByteArray &method = request.method;
    static const QRegularExpression drawingPath(QStringLiteral("^/drawings/(\\d{1,12})(\\.svg)?$"));
    static const QRegularExpression userPath(QStringLiteral("^/@([A-Za-z0-9_.-]{1,32})$"));

    if (path == QLatin1String("/api/v1/recommended_models") && method == "GET") {
        responder->sendJson(200, m_catalog);
    } else if (path == QLatin1String("/api/app_version") && method == "GET") {
        responder->sendJson(200, {{QStringLiteral("version"), m_options.latestVersion},
                                  {QStringLiteral("url"), url().toString() + kOwnDownload}});
    } else if (path == QLatin1String("/oauth/mac") && method == "GET") {
        signInPage(request, responder);
    } else if (path == QLatin1String("/oauth/mac") && method == "POST") {
        signInForm(request, responder);
    } else if (path == QLatin1String("/api/v1/auth/exchange") && method == "POST") {
        exchange(request, responder);
    } else if (path == QLatin1String("/api/v1/me") && method == "GET") {
        if (const auto user = authorised(request, responder)) {
            responder->sendJson(200, {{QStringLiteral("username"), user->name},
                                      {QStringLiteral("email"), user->email},
                                      {QStringLiteral("credits"), user->credits}});
        }
    } else if (path == QLatin1String("/api/v1/generations") && method == "POST") {
        generate(request, responder);
    } else if (path == QLatin1String("/api/v1/drawings") && method == "POST") {
        publish(request, responder);
    } else if (path == QLatin1String("/api/v1/favorites") && (method == "GET" || method == "PUT")) {
        favorites(request, responder);
    } else if ((path == QLatin1String("/drawings") || path == QLatin1String("/")) && method == "GET") {
        gallery(QStringLiteral("Drawings"), m_store->drawings(kGalleryLimit), responder);
    } else if (const auto match = drawingPath.match(path); match.hasMatch() && method == "GET") {
        if (match.captured(2).isEmpty())
            drawingPage(match.captured(1).toLongLong(), responder);
        else
            drawingImage(match.captured(1).toLongLong(), responder);
    } else if (const auto user = userPath.match(path); user.hasMatch() && method == "GET") {
        gallery(QLatin1Char('@') + user.captured(1), m_store->drawings(kGalleryLimit, user.captured(1)),
                responder);
    } else if (path == QLatin1String("/models") && method == "GET") {
        modelsPage(responder);
    } else if ((path == QLatin1String("/download/mac") || path == QLatin1String("/download/linux")) &&
               method == "GET") {
        responder->send(
            200, kHtml,
            page(QStringLiteral("Dravlin %1").arg(m_options.latestVersion),
                 QStringLiteral("<p>This is a stand-in service: there is nothing to download here. "
                                "Build the app from its sources.</p>")),
            kPageHeaders);
    } else if (path.startsWith(QLatin1String("/api/"))) {
        responder->sendJson(404, errorObject(QStringLiteral("not found")));
    } else {
        responder->send(404, kHtml, page(QStringLiteral("Not found"), QString()), kPageHeaders);
    }
}

std::optional<ServiceStore::User> ServiceServer::authorised(const HttpRequest &request,
                                                            HttpResponder *responder)
{
    const QByteArray header = request.header("Authorization");
    const QByteArray prefix = "Bearer ";
    std::optional<ServiceStore::User> user;
    if (header.startsWith(prefix))
        user = m_store->userForToken(QString::fromUtf8(header.mid(prefix.size())));
    if (!user) {
        responder->send(401, kJson, line(errorObject(QStringLiteral("unauthorized"))),
                        {{"WWW-Authenticate", "Bearer realm=\"dravlin\""}});
    }
    return user;
}

void ServiceServer::signInPage(const HttpRequest &request, HttpResponder *responder)
{
    const QString redirect = request.query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);
    const QString challenge =
        request.query.queryItemValue(QStringLiteral("code_challenge"), QUrl::FullyDecoded);
    const QString method =
        request.query.queryItemValue(QStringLiteral("code_challenge_method"), QUrl::FullyDecoded);
    // Every sign-in proves it started here: without its challenge, a code could be handed to
    // anyone's app.
    if (challenge.isEmpty() || method != QLatin1String("S256")) {
        responder->send(400, kHtml, page(QStringLiteral("Sign-in link not valid"), QString()), kPageHeaders);
        return;
    }
    const QString body =
        QStringLiteral(
            "<form method=\"post\" action=\"/oauth/mac\"><label for=\"username\">Sign in as</label>"
            "<input id=\"username\" name=\"username\" autofocus required maxlength=\"32\" "
            "pattern=\"[A-Za-z0-9_.\\-]+\" placeholder=\"a user name\">"
            "<input type=\"hidden\" name=\"redirect_uri\" value=\"%1\">"
            "<input type=\"hidden\" name=\"code_challenge\" value=\"%3\"><button type=\"submit\">Sign in"
            "</button><p class=\"meta\">A stand-in service: any name signs in, and a new name starts with "
            "%2 of credit.</p></form>")
            .arg(escaped(redirect), money(m_options.startingCredits), escaped(challenge));
    responder->send(200, kHtml, page(QStringLiteral("Sign in to Dravlin"), body, false), kPageHeaders);
}

void ServiceServer::signInForm(const HttpRequest &request, HttpResponder *responder)
{
    QString form = QString::fromUtf8(request.body);
    form.replace(QLatin1Char('+'), QLatin1Char(' '));
    const QUrlQuery fields(form);
    const QString name = fields.queryItemValue(QStringLiteral("username"), QUrl::FullyDecoded).trimmed();
    QUrl redirect(fields.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
                  QUrl::StrictMode);
    static const QRegularExpression validName(QStringLiteral("^[A-Za-z0-9_.-]{1,32}$"));
    // Codes go only to the app's own callback, never to an address a link could choose.
    if (!redirect.isValid() || redirect.scheme() != QLatin1String("dravlin-mac")) {
        responder->send(400, kHtml, page(QStringLiteral("Sign-in link not valid"), QString()), kPageHeaders);
        return;
    }
    if (!validName.match(name).hasMatch()) {
        responder->send(
            400, kHtml,
            page(QStringLiteral("Pick another name"),
                 QStringLiteral("<p>Letters, digits, dots, dashes and underscores, up to 32.</p>")),
            kPageHeaders);
        return;
    }
    const QString challenge = fields.queryItemValue(QStringLiteral("code_challenge"), QUrl::FullyDecoded);
    if (challenge.isEmpty()) {
        responder->send(400, kHtml, page(QStringLiteral("Sign-in link not valid"), QString()), kPageHeaders);
        return;
    }
    const ServiceStore::User user = m_store->userNamed(name, m_options.startingCredits);
    QUrlQuery query(redirect);
    query.addQueryItem(QStringLiteral("code"), m_store->issueCode(user.id, challenge));
    redirect.setQuery(query);
    responder->send(302, kHtml, QByteArray(),
                    {{"Location", redirect.toEncoded()}, {"Cache-Control", "no-store"}});
}

void ServiceServer::exchange(const HttpRequest &request, HttpResponder *responder)
{
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const std::optional<qint64> userId =
        m_store->redeemCode(stringMember(body, "code").value_or(QString()),
                            stringMember(body, "code_verifier").value_or(QString()));
    const auto user = userId ? m_store->user(*userId) : std::nullopt;
    if (!user) {
        responder->sendJson(400, errorObject(QStringLiteral("invalid or expired code")));
        return;
    }
    responder->sendJson(200, {{QStringLiteral("token"), m_store->issueToken(user->id)},
                              {QStringLiteral("username"), user->name},
                              {QStringLiteral("email"), user->email}});
}

void ServiceServer::generate(const HttpRequest &request, HttpResponder *responder)
{
    const auto user = authorised(request, responder);
    if (!user)
        return;
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const auto prompt = stringMember(body, "prompt");
    const auto modelId = stringMember(body, "model_id");
    const auto paidWith = stringMember(body, "paid_with");
    if (!prompt || !modelId || !paidWith ||
        (*paidWith != QLatin1String("credits") && *paidWith != QLatin1String("key"))) {
        responder->sendJson(400, errorObject(QStringLiteral("prompt, model_id and paid_with are required")));
        return;
    }
    const bool hasImage = !stringMember(body, "image_base64").value_or(QString()).isEmpty();
    const auto model = cloudModel(*modelId);
    const double price = model ? model->value(QStringLiteral("price")).toDouble() : 0;
    const bool byKey = *paidWith == QLatin1String("key");

    responder->startStream(200, "application/x-ndjson");
    auto refuse = [responder](const QString &message) {
        responder->write(line(errorObject(message)) + '\n');
        responder->finish();
    };
    if (!model)
        return refuse(QStringLiteral("This model isn't offered: %1.").arg(*modelId));
    const QString label = model->value(QStringLiteral("name")).toString();
    if (hasImage && !model->value(QStringLiteral("vision")).toBool())
        return refuse(
            QStringLiteral("%1 can't see images. Pick a model with vision to recreate one.").arg(label));
    if (byKey && request.header("X-Openrouter-Key").trimmed().isEmpty())
        return refuse(
            QStringLiteral("Paying with your own key needs an OpenRouter key. Add one in the app."));
    if (!byKey && user->credits < price) {
        return refuse(
            QStringLiteral("Not enough Dravlin Credit: this drawing costs %1 and your balance is %2.")
                .arg(money(price), money(user->credits)));
    }

    const Recording &recording = hasImage ? Recordings::recreation() : Recordings::forPrompt(*prompt);
    QList<QByteArray> lines;
    for (const QString &piece : Recordings::tokens(recording.thinking))
        lines.append(line({{QStringLiteral("r"), piece}}));
    for (const QString &piece : Recordings::tokens(recording.answer()))
        lines.append(line({{QStringLiteral("c"), piece}}));
    ServiceStore::Drawing drawing;
    drawing.prompt = *prompt;
    drawing.modelId = *modelId;
    drawing.modelLabel = stringMember(body, "model_label").value_or(label);
    drawing.provider = *paidWith;
    drawing.svg = recording.svg;
    drawing.content = recording.answer();
    drawing.durationMs = qint64(lines.size() * 1000 / m_options.tokensPerSecond);
    if (!byKey)
        drawing.costUSD = price;
    const qint64 userId = user->id;
    // Charged only once the drawing is whole: a client that leaves early pays nothing.
    new LinePacer(
        responder, lines, m_options.tokensPerSecond, [this, responder, drawing, userId, byKey, price] {
            if (!byKey && !m_store->charge(userId, price)) {
                responder->write(
                    line(errorObject(QStringLiteral("Not enough Dravlin Credit for this drawing."))) + '\n');
                responder->finish();
                return;
            }
            const qint64 id = m_store->addDrawing(userId, drawing);
            responder->write(line({{QStringLiteral("url"), drawingURL(id)}}) + '\n');
            responder->write(line({{QStringLiteral("done"), true}, {QStringLiteral("svg"), drawing.svg}}) +
                             '\n');
            responder->finish();
        });
}

void ServiceServer::publish(const HttpRequest &request, HttpResponder *responder)
{
    const auto user = authorised(request, responder);
    if (!user)
        return;
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    ServiceStore::Drawing drawing;
    const auto prompt = stringMember(body, "prompt");
    const auto modelId = stringMember(body, "model_id");
    const auto svg = stringMember(body, "svg");
    const QJsonValue duration = body.value(QStringLiteral("duration_ms"));
    if (!prompt || !modelId || !svg || !svg->contains(QLatin1String("<svg"), Qt::CaseInsensitive) ||
        !duration.isDouble()) {
        responder->sendJson(400,
                            errorObject(QStringLiteral("a drawing needs a prompt, a model_id, an svg and a "
                                                       "duration_ms")));
        return;
    }
    drawing.prompt = *prompt;
    drawing.modelId = *modelId;
    drawing.modelLabel = stringMember(body, "model_label").value_or(*modelId);
    drawing.provider = stringMember(body, "provider").value_or(QStringLiteral("local"));
    drawing.svg = *svg;
    drawing.content = stringMember(body, "content").value_or(QString());
    drawing.durationMs = duration.toInteger();
    if (body.value(QStringLiteral("cost_usd")).isDouble())
        drawing.costUSD = body.value(QStringLiteral("cost_usd")).toDouble();
    const qint64 id = m_store->addDrawing(user->id, drawing);
    if (id == 0) {
        responder->sendJson(500, errorObject(QStringLiteral("the drawing could not be stored")));
        return;
    }
    responder->sendJson(201, {{QStringLiteral("url"), drawingURL(id)}, {QStringLiteral("id"), id}});
}

void ServiceServer::favorites(const HttpRequest &request, HttpResponder *responder)
{
    const auto user = authorised(request, responder);
    if (!user)
        return;
    if (request.method == "PUT") {
        const QJsonValue ids =
            QJsonDocument::fromJson(request.body).object().value(QStringLiteral("cloud_ids"));
        QStringList list;
        bool valid = ids.isArray() && ids.toArray().size() <= kMaxFavorites;
        for (const QJsonValue &id : ids.toArray()) {
            valid = valid && id.isString() && id.toString().size() <= 200;
            list.append(id.toString());
        }
        if (!valid) {
            responder->sendJson(400, errorObject(QStringLiteral("cloud_ids must be a list of model ids")));
            return;
        }
        m_store->setFavorites(user->id, list);
    }
    responder->sendJson(
        200, {{QStringLiteral("cloud_ids"), QJsonArray::fromStringList(m_store->favorites(user->id))}});
}

void ServiceServer::gallery(const QString &title, const QList<ServiceStore::Drawing> &drawings,
                            HttpResponder *responder)
{
    QString cards;
    for (const ServiceStore::Drawing &drawing : drawings) {
        // Drawings are shown as images, never inline: an image cannot run a script or reach out.
        cards +=
            QStringLiteral("<a class=\"card\" href=\"/drawings/%1\"><img src=\"/drawings/%1.svg\" alt=\"%2\">"
                           "<p>%2</p><p class=\"meta\">@%3 · %4</p></a>")
                .arg(drawing.id)
                .arg(escaped(drawing.prompt), escaped(drawing.username), escaped(drawing.modelLabel));
    }
    if (cards.isEmpty())
        cards = QStringLiteral("<p class=\"meta\">Nothing published yet.</p>");
    responder->send(200, kHtml, page(title, QStringLiteral("<div class=\"grid\">%1</div>").arg(cards)),
                    kPageHeaders);
}

void ServiceServer::drawingPage(qint64 id, HttpResponder *responder)
{
    const auto drawing = m_store->drawing(id);
    if (!drawing) {
        responder->send(404, kHtml, page(QStringLiteral("No such drawing"), QString()), kPageHeaders);
        return;
    }
    QString meta = QStringLiteral("by <a href=\"/@%1\">@%1</a> with %2 in %3 s")
                       .arg(escaped(drawing->username), escaped(drawing->modelLabel))
                       .arg(drawing->durationMs / 1000.0, 0, 'f', 1);
    if (drawing->costUSD)
        meta += QStringLiteral(", %1 of credit").arg(money(*drawing->costUSD));
    const QString body =
        QStringLiteral("<img class=\"big\" src=\"/drawings/%1.svg\" alt=\"%2\"><p class=\"meta\">%3</p>"
                       "<pre>%4</pre>")
            .arg(drawing->id)
            .arg(escaped(drawing->prompt), meta, escaped(drawing->content.left(4000)));
    responder->send(200, kHtml, page(drawing->prompt, body), kPageHeaders);
}

void ServiceServer::drawingImage(qint64 id, HttpResponder *responder)
{
    const auto drawing = m_store->drawing(id);
    if (!drawing) {
        responder->send(404, "text/plain", "no such drawing\n");
        return;
    }
    // Opened on its own, the file still may not run scripts or load anything.
    responder->send(200, "image/svg+xml", drawing->svg.toUtf8(),
                    {{"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; sandbox"},
                     {"X-Content-Type-Options", "nosniff"}});
}

void ServiceServer::modelsPage(HttpResponder *responder)
{
    QString rows;
    for (const QJsonValue &value : m_catalog.value(QStringLiteral("cloud_catalog")).toArray()) {
        const QJsonObject model = value.toObject();
        rows +=
            QStringLiteral("<p>%1 <span class=\"meta\">%2%3 · %4 a drawing</span></p>")
                .arg(escaped(model.value(QStringLiteral("name")).toString()),
                     escaped(model.value(QStringLiteral("id")).toString()),
                     model.value(QStringLiteral("vision")).toBool() ? QStringLiteral(" · vision") : QString(),
                     money(model.value(QStringLiteral("price")).toDouble()));
    }
    responder->send(200, kHtml, page(QStringLiteral("Cloud models"), rows), kPageHeaders);
}
