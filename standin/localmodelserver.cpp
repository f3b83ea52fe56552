#include "standin/localmodelserver.h"

#include "standin/linepacer.h"
#include "standin/recordings.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <algorithm>

namespace {

const QString kFaultFamily = QStringLiteral("faulty");

QJsonObject readJson(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing %s", qPrintable(path));
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The server's clock in its own format: nanoseconds, and for modification times the local offset.
QString nanoTime(const QDateTime &time, bool utc)
{
    static quint32 counter = 0;
    const QString fraction = QStringLiteral("%1%2")
                                 .arg(time.time().msec(), 3, 10, QLatin1Char('0'))
                                 .arg(++counter % 1000000, 6, 10, QLatin1Char('0'));
    const QDateTime shown = utc ? time.toUTC() : time.toLocalTime();
    QString text = shown.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('.') + fraction;
    if (utc)
        return text + QLatin1Char('Z');
    const int offset = shown.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return text + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString hexDigest(const QString &seed)
{
    return QString::fromLatin1(QCryptographicHash::hash(seed.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject faultEntry(const QString &name)
{
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("family"), kFaultFamily},
                       {QStringLiteral("parameter_size"), QStringLiteral("1.2B")},
                       {QStringLiteral("quantization_level"), QStringLiteral("Q4_K_M")},
                       {QStringLiteral("size"), 812'344'113},
                       {QStringLiteral("capabilities"), QJsonArray{QStringLiteral("completion")}}};
}

QString modelName(const QJsonObject &body)
{
    const QString model = body.value(QStringLiteral("model")).toString();
    return model.isEmpty() ? body.value(QStringLiteral("name")).toString() : model;
}

bool hasCapability(const QJsonObject &entry, const QString &capability)
{
    return entry.value(QStringLiteral("capabilities")).toArray().contains(capability);
}

// One streamed chat line.
QByteArray chatLine(const QString &model, const QString &content, const QString &thinking)
{
    QJsonObject message{{QStringLiteral("role"), QStringLiteral("assistant")},
                        {QStringLiteral("content"), content}};
    if (!thinking.isEmpty())
        message.insert(QStringLiteral("thinking"), thinking);
    return compact({{QStringLiteral("model"), model},
                    {QStringLiteral("created_at"), nanoTime(QDateTime::currentDateTimeUtc(), true)},
                    {QStringLiteral("message"), message},
                    {QStringLiteral("done"), false}});
}

QByteArray doneLine(const QString &model, qsizetype count, double tokensPerSecond)
{
    const qint64 evalNs = qint64(count / tokensPerSecond * 1e9);
    return compact(
        {{QStringLiteral("model"), model},
         {QStringLiteral("created_at"), nanoTime(QDateTime::currentDateTimeUtc(), true)},
         {QStringLiteral("message"), QJsonObject{{QStringLiteral("role"), QStringLiteral("assistant")},
                                                 {QStringLiteral("content"), QString()}}},
         {QStringLiteral("done_reason"), QStringLiteral("stop")},
         {QStringLiteral("done"), true},
         {QStringLiteral("total_duration"), evalNs + 412'339'120},
         {QStringLiteral("load_duration"), 301'882'541},
         {QStringLiteral("prompt_eval_count"), 412},
         {QStringLiteral("prompt_eval_duration"), 98'114'203},
         {QStringLiteral("eval_count"), count},
         {QStringLiteral("eval_duration"), evalNs}});
}

} // namespace

LocalModelServer::LocalModelServer(Options options, QObject *parent)
    : QObject(parent), m_options(options),
      m_http([this](const HttpRequest &request, HttpResponder *responder) { handle(request, responder); },
             this)
{
    const QJsonObject document = readJson(QStringLiteral(":/standin/local-models.json"));
    for (const QJsonValue &entry : document.value(QStringLiteral("registry")).toArray())
        m_registry.append(entry.toObject());
    const QJsonArray installed = document.value(QStringLiteral("installed")).toArray();
    for (const QJsonValue &name : installed) {
        for (const QJsonObject &entry : std::as_const(m_registry)) {
            if (entry.value(QStringLiteral("name")) == name)
                install(entry);
        }
    }
    for (const QString &name : faultNames())
        install(faultEntry(name));
}

QStringList LocalModelServer::faultNames()
{
    QStringList names;
    for (const char *kind : {"cut", "stall", "drop", "garbage", "error", "500"})
        names.append(kFaultFamily + QLatin1Char(':') + QLatin1String(kind));
    return names;
}

QStringList LocalModelServer::installedNames() const
{
    QStringList names;
    for (const Model &model : m_installed)
        names.append(model.entry.value(QStringLiteral("name")).toString());
    return names;
}

qsizetype LocalModelServer::installedIndex(const QString &name) const
{
    for (qsizetype i = 0; i < m_installed.size(); ++i) {
        if (m_installed[i].entry.value(QStringLiteral("name")).toString() == name)
            return i;
    }
    return -1;
}

void LocalModelServer::install(const QJsonObject &entry)
{
    const qsizetype existing = installedIndex(entry.value(QStringLiteral("name")).toString());
    if (existing >= 0)
        m_installed.removeAt(existing);
    m_installed.append({entry, QDateTime::currentDateTime()});
}

void LocalModelServer::handle(const HttpRequest &request, HttpResponder *responder)
{
    const QByteArray &method = request.method;
    if (request.path == QLatin1String("/api/tags") && method == "GET")
        responder->sendJson(200, tags());
    else if (request.path == QLatin1String("/api/chat") && method == "POST")
        chat(request, responder);
    else if (request.path == QLatin1String("/api/pull") && method == "POST")
        pull(request, responder);
    else if (request.path == QLatin1String("/api/delete") && method == "DELETE")
        remove(request, responder);
    else if (request.path == QLatin1String("/api/version") && method == "GET")
        responder->sendJson(200, {{QStringLiteral("version"), QStringLiteral("0.9.6")}});
    else if (request.path == QLatin1String("/") && (method == "GET" || method == "HEAD"))
        responder->send(200, "text/plain; charset=utf-8", "Ollama is running");
    else
        responder->send(404, "text/plain", "404 page not found");
}

QJsonObject LocalModelServer::tags() const
{
    QJsonArray models;
    for (const Model &model : m_installed) {
        const QJsonObject &entry = model.entry;
        const QString name = entry.value(QStringLiteral("name")).toString();
        const QString family = entry.value(QStringLiteral("family")).toString();
        models.append(QJsonObject{
            {QStringLiteral("name"), name},
            {QStringLiteral("model"), name},
            {QStringLiteral("modified_at"), nanoTime(model.modified, false)},
            {QStringLiteral("size"), entry.value(QStringLiteral("size"))},
            {QStringLiteral("digest"), hexDigest(name)},
            {QStringLiteral("details"),
             QJsonObject{
                 {QStringLiteral("parent_model"), QString()},
                 {QStringLiteral("format"), QStringLiteral("gguf")},
                 {QStringLiteral("family"), family},
                 {QStringLiteral("families"), QJsonArray{family}},
                 {QStringLiteral("parameter_size"), entry.value(QStringLiteral("parameter_size"))},
                 {QStringLiteral("quantization_level"), entry.value(QStringLiteral("quantization_level"))}}},
            {QStringLiteral("capabilities"), entry.value(QStringLiteral("capabilities"))},
        });
    }
    return {{QStringLiteral("models"), models}};
}

void LocalModelServer::chat(const HttpRequest &request, HttpResponder *responder)
{
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    const QString model = modelName(body);
    if (model.isEmpty()) {
        responder->sendJson(400, {{QStringLiteral("error"), QStringLiteral("model is required")}});
        return;
    }
    const qsizetype index = installedIndex(model);
    if (index < 0) {
        responder->sendJson(404,
                            {{QStringLiteral("error"), QStringLiteral("model '%1' not found").arg(model)}});
        return;
    }
    const QString fault =
        model.startsWith(kFaultFamily + QLatin1Char(':')) ? model.mid(kFaultFamily.size() + 1) : QString();
    if (fault == QLatin1String("500")) {
        responder->sendJson(
            500,
            {{QStringLiteral("error"),
              QStringLiteral("model requires more system memory (11.2 GiB) than is available (3.1 GiB)")}});
        return;
    }

    QString prompt;
    bool hasImage = false;
    for (const QJsonValue &value : body.value(QStringLiteral("messages")).toArray()) {
        const QJsonObject message = value.toObject();
        if (message.value(QStringLiteral("role")) != QLatin1String("user"))
            continue;
        prompt = message.value(QStringLiteral("content")).toString();
        hasImage = !message.value(QStringLiteral("images")).toArray().isEmpty();
    }
    const QJsonObject &entry = m_installed[index].entry;
    if (hasImage && !hasCapability(entry, QStringLiteral("vision"))) {
        responder->sendJson(500, {{QStringLiteral("error"),
                                   QStringLiteral("this model is missing data required for image input")}});
        return;
    }

    const Recording &recording = hasImage ? Recordings::recreation() : Recordings::forPrompt(prompt);
    QList<QByteArray> lines;
    if (hasCapability(entry, QStringLiteral("thinking"))) {
        for (const QString &piece : Recordings::tokens(recording.thinking))
            lines.append(chatLine(model, QString(), piece));
    }
    // Half-way through the drawing is where a fault hurts most: part of it is already on the canvas.
    const qsizetype faultAt = lines.size() + Recordings::tokens(recording.narration).size() +
                              Recordings::tokens(recording.svg).size() / 2 + 2;
    for (const QString &piece : Recordings::tokens(recording.answer()))
        lines.append(chatLine(model, piece, QString()));

    const qsizetype count = lines.size();

    std::function<void()> atEnd = [responder] {
        responder->finish();
    };
    if (fault.isEmpty()) {
        lines.append(doneLine(model, count, m_options.tokensPerSecond));
    } else if (fault == QLatin1String("garbage")) {
        lines.insert(faultAt,
                     "<html><head><title>502 Bad Gateway</title></head><body>bad gateway</body></html>");
        lines.append(doneLine(model, count, m_options.tokensPerSecond));
    } else {
        lines.resize(faultAt);
        if (fault == QLatin1String("cut")) {
            lines.append(doneLine(model, faultAt, m_options.tokensPerSecond));
        } else if (fault == QLatin1String("error")) {
            lines.append(compact({{QStringLiteral("error"),
                                   QStringLiteral("an error was encountered while running the model")}}));
        } else if (fault == QLatin1String("drop")) {
            atEnd = [responder] {
                responder->drop();
            };
        } else {
            atEnd = nullptr; // a stall: silent until the client gives up
        }
    }
    responder->startStream(200, "application/x-ndjson");
    new LinePacer(responder, lines, m_options.tokensPerSecond, atEnd);
}

void LocalModelServer::pull(const HttpRequest &request, HttpResponder *responder)
{
    const QString name = modelName(QJsonDocument::fromJson(request.body).object());
    const QByteArray manifest = compact({{QStringLiteral("status"), QStringLiteral("pulling manifest")}});
    auto known = std::find_if(m_registry.cbegin(), m_registry.cend(), [&](const QJsonObject &entry) {
        return entry.value(QStringLiteral("name")).toString() == name;
    });
    responder->startStream(200, "application/x-ndjson");
    if (known == m_registry.cend()) {
        const QByteArray error =
            compact({{QStringLiteral("error"), QStringLiteral("pull model manifest: file does not exist")}});
        new LinePacer(responder, {manifest, error}, 5, [responder] { responder->finish(); });
        return;
    }
    const QJsonObject entry = *known;
    // The weights, then the small files beside them; each layer's progress starts from nothing.
    const qint64 size = entry.value(QStringLiteral("size")).toInteger();
    const QList<qint64> layers{size - 12'949, 1'692, 11'357, 492};
    const int weightSteps = 40;
    QList<QByteArray> lines{manifest};
    for (qsizetype layer = 0; layer < layers.size(); ++layer) {
        const QString digest = hexDigest(name + QString::number(layer));
        const int steps = layer == 0 ? weightSteps : 1;
        for (int step = 0; step <= steps; ++step) {
            lines.append(compact({{QStringLiteral("status"), QStringLiteral("pulling ") + digest.left(12)},
                                  {QStringLiteral("digest"), QStringLiteral("sha256:") + digest},
                                  {QStringLiteral("total"), layers[layer]},
                                  {QStringLiteral("completed"), layers[layer] * step / steps}}));
        }
    }
    lines.append(compact({{QStringLiteral("status"), QStringLiteral("verifying sha256 digest")}}));
    lines.append(compact({{QStringLiteral("status"), QStringLiteral("writing manifest")}}));
    const double linesPerSecond = lines.size() * 1000.0 / std::max(m_options.pullMs, 1);
    new LinePacer(responder, lines, linesPerSecond, [this, responder, entry] {
        install(entry);
        responder->write(compact({{QStringLiteral("status"), QStringLiteral("success")}}) + '\n');
        responder->finish();
    });
}

void LocalModelServer::remove(const HttpRequest &request, HttpResponder *responder)
{
    const QString name = modelName(QJsonDocument::fromJson(request.body).object());
    const qsizetype index = installedIndex(name);
    if (index < 0) {
        responder->sendJson(404,
                            {{QStringLiteral("error"), QStringLiteral("model '%1' not found").arg(name)}});
        return;
    }
    m_installed.removeAt(index);
    responder->send(200, QByteArray(), QByteArray());
}
