#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QVariantList>

#include "ui/rowsmodel.h"
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <optional>
#include <utility>

class DrawSession;
class QMimeData;
class DravlinAccount;

// One main window's state and rules: it owns the window's drawing session and account, decides
// what the sidebar shows (onboarding or controls, the menu's items, the picker's sections, the
// payment line, the footer), runs the start-up loads in order, and opens links. The QML binds to
// it; everything with a condition in it lives here, where tests reach it.
class ContentController : public QObject
{
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(DrawSession *session READ session CONSTANT)
    Q_PROPERTY(DravlinAccount *account READ account CONSTANT)
    Q_PROPERTY(bool canDraw READ canDraw NOTIFY canDrawChanged)
    // False until the window's first model listing has answered, one way or the other.
    Q_PROPERTY(bool modelsKnown READ modelsKnown NOTIFY modelsKnownChanged)
    Q_PROPERTY(bool examplesDismissed READ examplesDismissed WRITE setExamplesDismissed NOTIFY
                   examplesDismissedChanged)
    Q_PROPERTY(bool showGetModels READ showGetModels WRITE setShowGetModels NOTIFY showGetModelsChanged)
    Q_PROPERTY(bool showKeySheet READ showKeySheet WRITE setShowKeySheet NOTIFY showKeySheetChanged)
    Q_PROPERTY(QStringList examplePrompts READ examplePrompts CONSTANT)
    Q_PROPERTY(QUrl ollamaURL READ ollamaURL CONSTANT)
    Q_PROPERTY(QString serviceHost READ serviceHost CONSTANT)
    Q_PROPERTY(QString signInLabel READ signInLabel CONSTANT)
    Q_PROPERTY(QString keyStorageNote READ keyStorageNote CONSTANT)
    Q_PROPERTY(RowsModel *menuEntries READ menuEntries CONSTANT)
    Q_PROPERTY(RowsModel *pickerEntries READ pickerEntries CONSTANT)
    Q_PROPERTY(QString footerIdentity READ footerIdentity NOTIFY accountTextsChanged)
    Q_PROPERTY(QString promptHeader READ promptHeader NOTIFY accountTextsChanged)
    Q_PROPERTY(bool showPayment READ showPayment NOTIFY paymentChanged)
    Q_PROPERTY(QString balanceText READ balanceText NOTIFY paymentChanged)
    Q_PROPERTY(bool showKeyWarning READ showKeyWarning NOTIFY paymentChanged)
    Q_PROPERTY(QString publishedLinkText READ publishedLinkText NOTIFY publishedLinkTextChanged)

public:
    explicit ContentController(QObject *parent = nullptr);
    ~ContentController() override;

    DrawSession *session() const { return m_session; }
    DravlinAccount *account() const { return m_account; }

    // The sidebar offers drawing once there is something to draw with: an installed local model,
    // or, signed in, a cloud model.
    bool canDraw() const;
    bool modelsKnown() const { return m_modelsKnown; }

    bool examplesDismissed() const;
    void setExamplesDismissed(bool dismissed);
    bool showGetModels() const { return m_showGetModels; }
    void setShowGetModels(bool show);
    bool showKeySheet() const { return m_showKeySheet; }
    void setShowKeySheet(bool show);

    static QStringList examplePrompts();
    static QUrl ollamaURL() { return QUrl(QStringLiteral("https://ollama.com/download")); }
    static QString serviceHost();
    static QString signInLabel() { return tr("Sign in to %1").arg(serviceHost()); }
    // Words that fit the platform: the Mac's own on the Mac, plain ones elsewhere.
    static QString localModelsSection();
    static QString keyStorageNote();

    // The ⋯ menu, in order: what it does (entry), label, whether it is a choice and is chosen, its key
    // in the platform's words ("shortcut"); a divider's entry is "divider".
    RowsModel *menuEntries() const { return m_menu; }
    // The model picker in display order: key, kind ("section" or "model"), label, value.
    RowsModel *pickerEntries() const { return m_picker; }
    // Moving through the open picker from the keyboard, over models only (headings are skipped):
    // "up", "down", "home", "end" from row `from` (-1: none yet); the row stays where nothing is
    // further that way.
    Q_INVOKABLE int pickerStep(int from, const QString &move) const;
    // Where the keyboard starts in the opened picker: the model in use, else the first model.
    Q_INVOKABLE int pickerStart() const;
    // Type-ahead: the next model (round to the start) whose name begins with the letters typed,
    // ignoring case; with more than one letter typed the current row counts first.
    Q_INVOKABLE int pickerFind(int from, const QString &typed) const;
    // The same over rows of (kind, text): a heading's kind is "section".
    static int pickerStep(const QList<std::pair<QString, QString>> &entries, int from, const QString &move);
    static int pickerFind(const QList<std::pair<QString, QString>> &entries, int from, const QString &typed);

    // The window's keys, in the platform's words (Ctrl on Linux, ⌘ on the Mac): drawing from
    // anywhere, and the history, which must not be Ctrl+Y: that is Redo in a text field on Linux.
    static QString drawShortcut() { return QStringLiteral("Ctrl+Return"); }
    static QString historyShortcut() { return QStringLiteral("Ctrl+H"); }
    Q_PROPERTY(QString drawKeys READ drawShortcut CONSTANT)
    Q_PROPERTY(QString historyKeys READ historyShortcut CONSTANT)
    QString footerIdentity() const;
    QString promptHeader() const;
    bool showPayment() const;
    QString balanceText() const;
    bool showKeyWarning() const;
    QString publishedLinkText() const;

    // Asks quietly whether a newer release exists; the menu offers it when one does.
    void checkForUpdate();

    // The loads a window does when it is first shown, one after the other once the account has
    // read the Keychain: the installed models, the catalog, the favourites, the balance, then the
    // update check. Once per window.
    Q_INVOKABLE void appear();

    // What a menu entry does, by its id.
    Q_INVOKABLE void activateMenuEntry(const QString &id);
    // Chooses an example prompt: it starts drawing and the examples go away for good.
    Q_INVOKABLE void useExample(const QString &prompt);
    // A file chosen as the reference image; only PNG, JPEG, GIF and WebP by name are taken.
    Q_INVOKABLE bool pickImage(const QUrl &fileUrl);
    // An image dropped on the window or pasted: taken only for a model that sees images, by the
    // same rules as a chosen file. A pasted picture with no file is kept as PNG. False when there
    // was no image to take (a paste then goes on as text).
    Q_INVOKABLE bool dropImage(const QList<QUrl> &urls);
    Q_INVOKABLE bool pasteImage();
    bool takeImage(const QMimeData *data);
    // Opens an address in the browser; only web addresses, whatever the caller passes.
    Q_INVOKABLE void openLink(const QUrl &url);
    // Opens a page of the service's web site; each segment stays one path segment, so a user
    // name holding "/" or "?" cannot point somewhere else.
    Q_INVOKABLE void openWeb(const QStringList &segments);
    // A link of the app's own scheme: "draw" links choose an installed model by family name.
    Q_INVOKABLE void handleOpenURL(const QUrl &url);
    // The same for a link that may arrive before the window knows its models (a launch by a
    // link): it waits for the first listing.
    void receiveURL(const QUrl &url);

    // Opens a web address (http or https only) in the browser.
    static void openWebAddress(const QUrl &url);
    static QUrl webURL(const QUrl &base, const QStringList &segments);
    static bool isPickableImage(const QUrl &fileUrl);

    // Where opened addresses go; the desktop's browser unless a test captures them.
    static void setUrlOpener(std::function<void(const QUrl &)> opener);

Q_SIGNALS:
    void canDrawChanged();
    void modelsKnownChanged();
    void examplesDismissedChanged();
    void showGetModelsChanged();
    void showKeySheetChanged();
    void menuEntriesChanged();
    void pickerEntriesChanged();
    void accountTextsChanged();
    void paymentChanged();
    void publishedLinkTextChanged();
    void updateChecked();
    // The start-up loads have all finished.
    void appeared();
    // The user asked for the kept drawings (the view owns that sheet).
    void historyRequested();

private:
    void updateMenu();
    void updatePicker();
    QList<std::pair<QString, QString>> pickerKindsAndTexts() const;

    DrawSession *m_session;
    DravlinAccount *m_account;
    bool m_showGetModels = false;
    bool m_showKeySheet = false;
    bool m_appearing = false;
    bool m_modelsKnown = false;
    bool m_canDraw = false;
    QUrl m_pendingURL;
    std::optional<QString> m_updateVersion;
    RowsModel *m_menu;
    RowsModel *m_picker;
};
