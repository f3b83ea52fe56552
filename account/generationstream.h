#pragma once

#include "net/linestreamjob.h"
#include "net/referencedata.h"

#include <QJsonObject>
#include <QObject>
#include <QUrl>

#include <optional>

// What a cloud generation is asked to do.
struct GenerationRequest
{
    QString prompt;
    QString model;
    QString modelLabel;
    QString payWith;
    std::optional<ReferenceData> image;
};

// One of the service's events as a run reads it. A member of the wrong type counts as absent.
struct GenerationEvent
{
    std::optional<QUrl> published;   // "url": the drawing's page; empty unless it is an http or https address
    std::optional<QString> thinking; // "r": the model's reasoning
    std::optional<QString> answer;   // "c": the next piece of its answer
    std::optional<QString> error;    // "error": the service's message, which does not end the run
    bool done = false;               // "done" is present, whatever its value
    std::optional<QString> svg;      // "svg": the service's own cut of the drawing

    static GenerationEvent from(const QJsonObject &event);
};

// The service's streamed reply to one generation: event() for every line that is a JSON object,
// in order, as soon as the line is complete; then finished() once, with a description when the
// stream failed. The stream interprets nothing: an "error" event does not end it and events after
// "done" still arrive. cancel() closes the request; nothing is emitted after it.
class GenerationStream : public LineStreamJob
{
    Q_OBJECT

public:
    // Sends the request at once. The token is the one known now, when the request is built; the OpenRouter
    // key goes along only when paying with it and one is stored. Without a token nothing is sent
    // and the stream ends, on the next turn of the event loop, with "Not signed in.".
    static GenerationStream *start(const GenerationRequest &request, QObject *owner);

    // The request's JSON body: the image members both present or both absent.
    static QJsonObject body(const GenerationRequest &request);

Q_SIGNALS:
    void eventReceived(const QJsonObject &event);
    void finished(const std::optional<QString> &errorDescription);

protected:
    bool handleResponseStart(int httpStatus) override;
    bool handleLine(QByteArrayView line) override;
    void onBodyEnded() override;
    void onFailure(const StreamFailure &failure) override;

    // A null reply makes a stream that is driven only through the handlers above.
    GenerationStream(QNetworkReply *reply, QObject *parent);
};
