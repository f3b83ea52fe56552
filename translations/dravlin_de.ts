<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AccountFooter</name>
    <message>
        <source>Sign out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>to publish your drawings</source>
        <translation>zum Veröffentlichen</translation>
    </message>
</context>
<context>
    <name>AppUpdater</name>
    <message>
        <source>The reply was not understood.</source>
        <translation>Die Antwort war unverständlich.</translation>
    </message>
    <message>
        <source>Dravlin %1 is available</source>
        <translation>Dravlin %1 ist verfügbar</translation>
    </message>
    <message>
        <source>You&apos;re on %1. Download the update?</source>
        <translation>Installiert ist %1. Die Aktualisierung herunterladen?</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>You&apos;re up to date</source>
        <translation>Alles ist auf dem neuesten Stand</translation>
    </message>
    <message>
        <source>Dravlin %1 is the latest version.</source>
        <translation>Dravlin %1 ist die neueste Version.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Couldn&apos;t check for updates</source>
        <translation>Suche nach Aktualisierungen fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>CanvasController</name>
    <message>
        <source>The canvas is not available.</source>
        <translation>Die Leinwand ist nicht verfügbar.</translation>
    </message>
    <message>
        <source>There is no drawing to export.</source>
        <translation>Es gibt keine Zeichnung zum Exportieren.</translation>
    </message>
    <message>
        <source>Rendering the drawing took too long.</source>
        <translation>Das Rendern der Zeichnung hat zu lange gedauert.</translation>
    </message>
    <message>
        <source>The drawing could not be rendered.</source>
        <translation>Die Zeichnung konnte nicht gerendert werden.</translation>
    </message>
</context>
<context>
    <name>CanvasWebView</name>
    <message>
        <source>The canvas could not start.</source>
        <translation>Die Leinwand konnte nicht starten.</translation>
    </message>
    <message>
        <source>Try again</source>
        <translation>Erneut versuchen</translation>
    </message>
</context>
<context>
    <name>ContentController</name>
    <message>
        <source>a lighthouse at sunset</source>
        <translation>ein Leuchtturm bei Sonnenuntergang</translation>
    </message>
    <message>
        <source>a sleeping fox curled up</source>
        <translation>ein zusammengerollter, schlafender Fuchs</translation>
    </message>
    <message>
        <source>a sailboat on choppy seas</source>
        <translation>ein Segelboot auf rauer See</translation>
    </message>
    <message>
        <source>a bowl of ramen</source>
        <translation>eine Schüssel Ramen</translation>
    </message>
    <message>
        <source>On this Mac</source>
        <translation>Auf diesem Mac</translation>
    </message>
    <message>
        <source>On this computer</source>
        <translation>Auf diesem Computer</translation>
    </message>
    <message>
        <source>Stored in your Mac&apos;s Keychain and sent with each drawing request to the Dravlin service, which passes it to OpenRouter.</source>
        <translation>Im Schlüsselbund des Mac gespeichert und mit jeder Zeichenanfrage an den Dravlin-Dienst gesendet, der ihn an OpenRouter weitergibt.</translation>
    </message>
    <message>
        <source>Stored in your system&apos;s keyring and sent with each drawing request to the Dravlin service, which passes it to OpenRouter.</source>
        <translation>Im Schlüsselbund des Systems gespeichert und mit jeder Zeichenanfrage an den Dravlin-Dienst gesendet, der ihn an OpenRouter weitergibt.</translation>
    </message>
    <message>
        <source>↑ Update to %1</source>
        <translation>↑ Auf %1 aktualisieren</translation>
    </message>
    <message>
        <source>Get more models…</source>
        <translation>Weitere Modelle holen …</translation>
    </message>
    <message>
        <source>OpenRouter key…</source>
        <translation>OpenRouter-Schlüssel …</translation>
    </message>
    <message>
        <source>History…</source>
        <translation>Verlauf …</translation>
    </message>
    <message>
        <source>Pause animations</source>
        <translation>Animationen anhalten</translation>
    </message>
    <message>
        <source>My profile (@%1)</source>
        <translation>Mein Profil (@%1)</translation>
    </message>
    <message>
        <source>Publish local drawings</source>
        <translation>Lokale Zeichnungen veröffentlichen</translation>
    </message>
    <message>
        <source>Drawings</source>
        <translation>Zeichnungen</translation>
    </message>
    <message>
        <source>Models</source>
        <translation>Modelle</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Nach Updates suchen …</translation>
    </message>
    <message>
        <source>Cloud</source>
        <translation>Cloud</translation>
    </message>
    <message>
        <source>Publishing as %1</source>
        <translation>Veröffentlicht als %1</translation>
    </message>
    <message>
        <source>Prompt</source>
        <translation>Prompt</translation>
    </message>
    <message>
        <source>published → %1</source>
        <translation>veröffentlicht → %1</translation>
    </message>
    <message>
        <source>Sign in to %1</source>
        <translation>Bei %1 anmelden</translation>
    </message>
    <message>
        <source>Publishing as you</source>
        <translation>Veröffentlicht unter eigenem Namen</translation>
    </message>
</context>
<context>
    <name>ContentView</name>
    <message>
        <source>＋ Get free local models with Ollama →</source>
        <translation>＋ Kostenlose lokale Modelle mit Ollama →</translation>
    </message>
    <message>
        <source>Canvas</source>
        <translation>Leinwand</translation>
    </message>
</context>
<context>
    <name>Downloads</name>
    <message>
        <source>Couldn&apos;t get %1: %2</source>
        <translation>%1 konnte nicht geholt werden: %2</translation>
    </message>
    <message>
        <source>Couldn&apos;t remove %1: %2</source>
        <translation>%1 konnte nicht entfernt werden: %2</translation>
    </message>
</context>
<context>
    <name>DownloadsLine</name>
    <message>
        <source>Downloading %1, %2</source>
        <translation>%1 wird heruntergeladen, %2</translation>
    </message>
    <message>
        <source>Cancel download of %1</source>
        <translation>Herunterladen von %1 abbrechen</translation>
    </message>
    <message>
        <source>Cancel download</source>
        <translation>Herunterladen abbrechen</translation>
    </message>
    <message>
        <source>Dismiss</source>
        <translation>Ausblenden</translation>
    </message>
</context>
<context>
    <name>DravlinAccount</name>
    <message>
        <source>Your sign-in has expired — sign in again.</source>
        <translation>Die Anmeldung ist abgelaufen — bitte erneut anmelden.</translation>
    </message>
    <message>
        <source>Sign-in failed — no code returned.</source>
        <translation>Anmeldung fehlgeschlagen — kein Code erhalten.</translation>
    </message>
    <message>
        <source>Sign-in failed: %1</source>
        <translation>Anmeldung fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Sign-in failed — couldn&apos;t exchange code.</source>
        <translation>Anmeldung fehlgeschlagen — der Code konnte nicht eingelöst werden.</translation>
    </message>
    <message>
        <source>publish failed</source>
        <translation>Veröffentlichen fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>DravlinApp</name>
    <message>
        <source>Version %1
A language model draws your picture live.</source>
        <translation>Version %1
Ein Sprachmodell zeichnet das gewünschte Bild live.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Quit and stop the download?</source>
        <translation>Beenden und das Herunterladen abbrechen?</translation>
    </message>
    <message>
        <source>%1 is still downloading. Quitting stops the download.</source>
        <translation>%1 wird noch heruntergeladen. Beenden bricht das Herunterladen ab.</translation>
    </message>
    <message>
        <source>%1 and %2 are still downloading. Quitting stops the downloads.</source>
        <extracomment>%1 lists all but the last download, separated by commas; %2 is the last one.</extracomment>
        <translation>%1 und %2 werden noch heruntergeladen. Beenden bricht die Downloads ab.</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>DrawSession</name>
    <message>
        <source>The drawing was too heavy to show.</source>
        <translation>Die Zeichnung war zu aufwendig, um sie anzuzeigen.</translation>
    </message>
    <message>
        <source>Stopped.</source>
        <translation>Angehalten.</translation>
    </message>
    <message>
        <source>Sign in to draw with cloud models.</source>
        <translation>Zum Zeichnen mit Cloud-Modellen anmelden.</translation>
    </message>
    <message>
        <source>No OpenRouter key — add one from the ⋯ menu, or switch to Dravlin Credit.</source>
        <translation>Kein OpenRouter-Schlüssel — im ⋯-Menü hinzufügen oder zu Dravlin-Guthaben wechseln.</translation>
    </message>
    <message>
        <source>The model replied but didn&apos;t finish an SVG.</source>
        <translation>Das Modell hat geantwortet, aber kein SVG fertiggestellt.</translation>
    </message>
    <message>
        <source>Publish failed: the canvas couldn&apos;t hand over the drawing.</source>
        <translation>Veröffentlichen fehlgeschlagen: Die Leinwand konnte die Zeichnung nicht übergeben.</translation>
    </message>
    <message>
        <source>Publish failed: %1</source>
        <translation>Veröffentlichen fehlgeschlagen: %1</translation>
    </message>
</context>
<context>
    <name>DrawingControls</name>
    <message>
        <source>Pay with</source>
        <translation>Bezahlen mit</translation>
    </message>
    <message>
        <source>Dravlin Credit</source>
        <translation>Dravlin-Guthaben</translation>
    </message>
    <message>
        <source>My OpenRouter key</source>
        <translation>Eigener Schlüssel</translation>
    </message>
    <message>
        <source>Balance %1</source>
        <translation>Guthaben %1</translation>
    </message>
    <message>
        <source>No key saved — add one from the ⋯ menu, or use Dravlin Credit.</source>
        <translation>Kein Schlüssel gespeichert — im ⋯-Menü hinzufügen oder Dravlin-Guthaben verwenden.</translation>
    </message>
    <message>
        <source>What should it draw?</source>
        <translation>Was soll gezeichnet werden?</translation>
    </message>
    <message>
        <source>Prompt</source>
        <translation>Prompt</translation>
    </message>
    <message>
        <source>Reference image</source>
        <translation>Referenzbild</translation>
    </message>
    <message>
        <source>Recreate this image</source>
        <translation>Dieses Bild nachzeichnen</translation>
    </message>
    <message>
        <source>Remove the reference image</source>
        <translation>Das Referenzbild entfernen</translation>
    </message>
    <message>
        <source>Remove reference image</source>
        <translation>Referenzbild entfernen</translation>
    </message>
    <message>
        <source>Add a reference image</source>
        <translation>Referenzbild hinzufügen</translation>
    </message>
    <message>
        <source>Choose a reference image</source>
        <translation>Referenzbild auswählen</translation>
    </message>
    <message>
        <source>Choose</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Images (%1)</source>
        <translation>Bilder (%1)</translation>
    </message>
    <message>
        <source>Draw</source>
        <translation>Zeichnen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stoppen</translation>
    </message>
    <message>
        <source>Stop (Esc)</source>
        <translation>Stoppen (Esc)</translation>
    </message>
    <message>
        <source>Hide the examples</source>
        <translation>Die Beispiele ausblenden</translation>
    </message>
    <message>
        <source>Dismiss examples</source>
        <translation>Beispiele ausblenden</translation>
    </message>
</context>
<context>
    <name>EditMenu</name>
    <message>
        <source>Cut</source>
        <translation>Ausschneiden</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einfügen</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
</context>
<context>
    <name>ExportBar</name>
    <message>
        <source>Save SVG…</source>
        <translation>SVG speichern …</translation>
    </message>
    <message>
        <source>Export PNG…</source>
        <translation>PNG exportieren …</translation>
    </message>
    <message>
        <source>Copy SVG</source>
        <translation>SVG kopieren</translation>
    </message>
    <message>
        <source>Copy image</source>
        <translation>Bild kopieren</translation>
    </message>
    <message>
        <source>Export PNG</source>
        <translation>PNG exportieren</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>Breite</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Width in pixels</source>
        <translation>Breite in Pixeln</translation>
    </message>
    <message>
        <source>White background</source>
        <translation>Weißer Hintergrund</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Choose file…</source>
        <translation>Datei wählen …</translation>
    </message>
    <message>
        <source>Save SVG</source>
        <translation>SVG speichern</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>SVG images (%1)</source>
        <translation>SVG-Bilder (%1)</translation>
    </message>
    <message>
        <source>PNG images (%1)</source>
        <translation>PNG-Bilder (%1)</translation>
    </message>
</context>
<context>
    <name>Exporter</name>
    <message>
        <source>There is no drawing to export.</source>
        <translation>Es gibt keine Zeichnung zum Exportieren.</translation>
    </message>
    <message>
        <source>Could not save %1: %2</source>
        <translation>%1 konnte nicht gespeichert werden: %2</translation>
    </message>
    <message>
        <source>Saved %1</source>
        <translation>%1 gespeichert</translation>
    </message>
    <message>
        <source>There is no drawing to copy.</source>
        <translation>Es gibt keine Zeichnung zum Kopieren.</translation>
    </message>
    <message>
        <source>SVG copied</source>
        <translation>SVG kopiert</translation>
    </message>
    <message>
        <source>The drawing could not be rendered.</source>
        <translation>Die Zeichnung konnte nicht gerendert werden.</translation>
    </message>
    <message>
        <source>Image copied</source>
        <translation>Bild kopiert</translation>
    </message>
</context>
<context>
    <name>Formats</name>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 B</source>
        <translation>%1 B</translation>
    </message>
    <message>
        <source>%1s</source>
        <extracomment>Seconds a drawing has been running</extracomment>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1m %2s</source>
        <extracomment>Minutes and seconds a drawing has been running</extracomment>
        <translation>%1 min %2 s</translation>
    </message>
    <message numerus="yes">
        <source>%n local model(s)</source>
        <translation>
            <numerusform>%n lokales Modell</numerusform>
            <numerusform>%n lokale Modelle</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>GetModelsSheet</name>
    <message>
        <source>Get more models</source>
        <translation>Weitere Modelle holen</translation>
    </message>
    <message>
        <source>Models</source>
        <translation>Modelle</translation>
    </message>
    <message>
        <source>Local</source>
        <translation>Lokal</translation>
    </message>
    <message>
        <source>Cloud</source>
        <translation>Cloud</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>INSTALLED</source>
        <translation>INSTALLIERT</translation>
    </message>
    <message>
        <source>Installed</source>
        <translation>Installiert</translation>
    </message>
    <message>
        <source>no tools</source>
        <translation>ohne Tools</translation>
    </message>
    <message>
        <source>Remove %1 from disk</source>
        <translation>%1 vom Datenträger entfernen</translation>
    </message>
    <message>
        <source>Remove from disk</source>
        <translation>Vom Datenträger entfernen</translation>
    </message>
    <message>
        <source>Downloads keep going if you close this window.</source>
        <translation>Downloads laufen weiter, wenn dieses Fenster geschlossen wird.</translation>
    </message>
    <message>
        <source>Search cloud models</source>
        <translation>Cloud-Modelle durchsuchen</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>Cloud models</source>
        <translation>Cloud-Modelle</translation>
    </message>
    <message>
        <source>✓ Added</source>
        <translation>✓ Hinzugefügt</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Remove %1</source>
        <translation>%1 entfernen</translation>
    </message>
    <message>
        <source>Add %1</source>
        <translation>%1 hinzufügen</translation>
    </message>
    <message>
        <source>Added models appear in the model picker, drawn on Dravlin Credit or your key.</source>
        <translation>Hinzugefügte Modelle erscheinen in der Modellauswahl und zeichnen mit Dravlin-Guthaben oder dem eigenen Schlüssel.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>HistoryController</name>
    <message>
        <source>Deleted “%1”.</source>
        <translation>„%1“ gelöscht.</translation>
    </message>
    <message>
        <source>published → %1</source>
        <translation>veröffentlicht → %1</translation>
    </message>
</context>
<context>
    <name>HistoryModel</name>
    <message>
        <source>Today %1</source>
        <translation>Heute %1</translation>
    </message>
    <message>
        <source>Yesterday %1</source>
        <translation>Gestern %1</translation>
    </message>
    <message>
        <source>d MMM yyyy, HH:mm</source>
        <extracomment>The date of an older drawing, as QLocale writes dates: 3 Dec 2026, 18:40</extracomment>
        <translation>d. MMM yyyy, HH:mm</translation>
    </message>
</context>
<context>
    <name>HistorySheet</name>
    <message>
        <source>‹ History</source>
        <translation>‹ Verlauf</translation>
    </message>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>Delete all…</source>
        <translation>Alle löschen …</translation>
    </message>
    <message>
        <source>Close (Esc)</source>
        <translation>Schließen (Esc)</translation>
    </message>
    <message>
        <source>Close history</source>
        <translation>Verlauf schließen</translation>
    </message>
    <message>
        <source>Search prompts</source>
        <translation>Prompts durchsuchen</translation>
    </message>
    <message>
        <source>Search history</source>
        <translation>Verlauf durchsuchen</translation>
    </message>
    <message>
        <source>Kept drawings</source>
        <translation>Aufbewahrte Zeichnungen</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Delete %1</source>
        <translation>%1 löschen</translation>
    </message>
    <message>
        <source>Finished drawings are kept here.</source>
        <translation>Fertige Zeichnungen werden hier aufbewahrt.</translation>
    </message>
    <message>
        <source>Nothing matches.</source>
        <translation>Keine Treffer.</translation>
    </message>
    <message>
        <source>Prompt: %1</source>
        <translation>Prompt: %1</translation>
    </message>
    <message>
        <source>Model %1</source>
        <translation>Modell %1</translation>
    </message>
    <message>
        <source>recreated</source>
        <translation>nachgezeichnet</translation>
    </message>
    <message>
        <source>Narration</source>
        <translation>Erzählung</translation>
    </message>
    <message>
        <source>Draw again</source>
        <translation>Erneut zeichnen</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Rückgängig</translation>
    </message>
    <message>
        <source>Delete all kept drawings?</source>
        <translation>Alle aufbewahrten Zeichnungen löschen?</translation>
    </message>
    <message>
        <source>They are removed from this computer. Published drawings stay on the web.</source>
        <translation>Sie werden von diesem Computer entfernt. Veröffentlichte Zeichnungen bleiben im Web.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Delete all</source>
        <translation>Alle löschen</translation>
    </message>
</context>
<context>
    <name>HistoryStore</name>
    <message>
        <source>The file was left as it is: %1</source>
        <translation>Die Datei blieb unverändert: %1</translation>
    </message>
    <message>
        <source>History is off: its database could not be opened (%1).</source>
        <translation>Der Verlauf ist aus: Seine Datenbank konnte nicht geöffnet werden (%1).</translation>
    </message>
    <message>
        <source>History is off: its database is in use by another program.</source>
        <translation>Der Verlauf ist aus: Seine Datenbank wird von einem anderen Programm verwendet.</translation>
    </message>
    <message>
        <source>History is off: its database is damaged (%1).</source>
        <translation>Der Verlauf ist aus: Seine Datenbank ist beschädigt (%1).</translation>
    </message>
    <message>
        <source>History is off: it was saved by a newer version of Dravlin.</source>
        <translation>Der Verlauf ist aus: Er wurde von einer neueren Version von Dravlin gespeichert.</translation>
    </message>
    <message>
        <source>History is off: its database could not be updated (%1).</source>
        <translation>Der Verlauf ist aus: Seine Datenbank konnte nicht aktualisiert werden (%1).</translation>
    </message>
</context>
<context>
    <name>MacMenuBar</name>
    <message>
        <source>About Dravlin</source>
        <translation>Über Dravlin</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Nach Updates suchen …</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Ablage</translation>
    </message>
    <message>
        <source>New Window</source>
        <translation>Neues Fenster</translation>
    </message>
    <message>
        <source>Close Window</source>
        <translation>Fenster schließen</translation>
    </message>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>Undo</source>
        <translation>Widerrufen</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>Wiederholen</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Ausschneiden</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einsetzen</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alles auswählen</translation>
    </message>
    <message>
        <source>Window</source>
        <translation>Fenster</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Im Dock ablegen</translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation>Zoomen</translation>
    </message>
    <message>
        <source>Bring All to Front</source>
        <translation>Alle nach vorne bringen</translation>
    </message>
</context>
<context>
    <name>ModelPicker</name>
    <message>
        <source>Choose a model</source>
        <translation>Modell auswählen</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
</context>
<context>
    <name>ModelsSheetController</name>
    <message>
        <source>Get %1GB</source>
        <translation>%1 GB holen</translation>
    </message>
    <message>
        <source>%1 on disk</source>
        <translation>%1 belegt</translation>
    </message>
    <message>
        <source>Remove %1? Frees %2 — you can always re-download it.</source>
        <translation>%1 entfernen? Gibt %2 frei — es kann jederzeit erneut geladen werden.</translation>
    </message>
    <message>
        <source>Needs %1GB</source>
        <translation>Braucht %1 GB</translation>
    </message>
    <message>
        <source>✓ Cloud</source>
        <translation>✓ Cloud</translation>
    </message>
    <message>
        <source>Add cloud</source>
        <translation>Cloud hinzufügen</translation>
    </message>
    <message>
        <source>Search %1 cloud models…</source>
        <translation>%1 Cloud-Modelle durchsuchen …</translation>
    </message>
    <message>
        <source>The cloud models couldn&apos;t be loaded.</source>
        <translation>Die Cloud-Modelle konnten nicht geladen werden.</translation>
    </message>
    <message>
        <source>No cloud models are offered right now.</source>
        <translation>Zurzeit werden keine Cloud-Modelle angeboten.</translation>
    </message>
    <message>
        <source>Sign in to browse cloud models.</source>
        <translation>Zum Durchsuchen der Cloud-Modelle anmelden.</translation>
    </message>
</context>
<context>
    <name>Network</name>
    <message>
        <source>The reply line was too long (over %1 MiB).</source>
        <translation>Eine Zeile der Antwort war zu lang (über %1 MiB).</translation>
    </message>
    <message>
        <source>Could not connect to the server.</source>
        <translation>Keine Verbindung zum Server möglich.</translation>
    </message>
    <message>
        <source>The request timed out.</source>
        <translation>Die Anfrage hat zu lange gedauert.</translation>
    </message>
    <message>
        <source>The network connection was lost.</source>
        <translation>Die Netzwerkverbindung wurde unterbrochen.</translation>
    </message>
    <message>
        <source>The reply was too large.</source>
        <translation>Die Antwort war zu groß.</translation>
    </message>
</context>
<context>
    <name>OllamaError</name>
    <message>
        <source>delete failed</source>
        <translation>Löschen fehlgeschlagen</translation>
    </message>
    <message>
        <source>pull failed (HTTP %1)</source>
        <translation>Herunterladen fehlgeschlagen (HTTP %1)</translation>
    </message>
    <message>
        <source>Unexpected Ollama response: %1</source>
        <translation>Unerwartete Antwort von Ollama: %1</translation>
    </message>
    <message>
        <source>Ollama isn&apos;t running on localhost:11434.</source>
        <translation>Ollama läuft nicht auf localhost:11434.</translation>
    </message>
</context>
<context>
    <name>Onboarding</name>
    <message>
        <source>Two ways to draw</source>
        <translation>Zwei Wege zum Zeichnen</translation>
    </message>
    <message>
        <source>Cloud models</source>
        <translation>Cloud-Modelle</translation>
    </message>
    <message>
        <source>Watch GPT, Claude, Gemini and more draw — on Dravlin Credit, no setup.</source>
        <translation>GPT, Claude, Gemini und anderen beim Zeichnen zusehen — mit Dravlin-Guthaben, ohne Einrichtung.</translation>
    </message>
    <message>
        <source>You&apos;re signed in: add cloud models from ⋯ → Get more models…</source>
        <translation>Angemeldet: Cloud-Modelle hinzufügen über ⋯ → Weitere Modelle holen …</translation>
    </message>
    <message>
        <source>Local models</source>
        <translation>Lokale Modelle</translation>
    </message>
    <message>
        <source>Free, private, offline — install Ollama and pull a model. Slow is part of the charm.</source>
        <translation>Kostenlos, privat, offline — Ollama installieren und ein Modell laden. Langsamkeit gehört zum Charme.</translation>
    </message>
    <message>
        <source>Get Ollama</source>
        <translation>Ollama holen</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
</context>
<context>
    <name>OpenRouterKeySheet</name>
    <message>
        <source>OpenRouter key</source>
        <translation>OpenRouter-Schlüssel</translation>
    </message>
    <message>
        <source>Draw with frontier models (GPT, Claude, Gemini…) on your own OpenRouter account — just like bringing your key on %1.</source>
        <translation>Mit Spitzenmodellen (GPT, Claude, Gemini …) über das eigene OpenRouter-Konto zeichnen — genau wie mit dem eigenen Schlüssel auf %1.</translation>
    </message>
    <message>
        <source>Get a key</source>
        <translation>Schlüssel holen</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
</context>
<context>
    <name>PublishError</name>
    <message>
        <source>generation failed (HTTP %1)</source>
        <translation>Erzeugen fehlgeschlagen (HTTP %1)</translation>
    </message>
    <message>
        <source>Not signed in.</source>
        <translation>Nicht angemeldet.</translation>
    </message>
</context>
<context>
    <name>RecommendedRow</name>
    <message>
        <source>Downloading %1</source>
        <translation>%1 wird heruntergeladen</translation>
    </message>
    <message>
        <source>Cancel download of %1</source>
        <translation>Herunterladen von %1 abbrechen</translation>
    </message>
    <message>
        <source>Cancel download</source>
        <translation>Herunterladen abbrechen</translation>
    </message>
    <message>
        <source>Remove cloud %1</source>
        <translation>Cloud-Modell %1 entfernen</translation>
    </message>
    <message>
        <source>Add cloud %1</source>
        <translation>Cloud-Modell %1 hinzufügen</translation>
    </message>
</context>
<context>
    <name>ReferenceAttachment</name>
    <message>
        <source>That image is larger than 20 MB. Choose a smaller one.</source>
        <translation>Das Bild ist größer als 20 MB. Bitte ein kleineres wählen.</translation>
    </message>
</context>
<context>
    <name>ReferenceImage</name>
    <message>
        <source>That file couldn&apos;t be opened as an image.</source>
        <translation>Die Datei konnte nicht als Bild geöffnet werden.</translation>
    </message>
    <message>
        <source>Use a PNG, JPEG, GIF or WebP image.</source>
        <translation>Ein PNG-, JPEG-, GIF- oder WebP-Bild verwenden.</translation>
    </message>
</context>
<context>
    <name>SVGCodeBox</name>
    <message>
        <source>SVG code</source>
        <translation>SVG-Code</translation>
    </message>
    <message>
        <source>SVG code, %1</source>
        <translation>SVG-Code, %1</translation>
    </message>
    <message>
        <source>expanded</source>
        <translation>ausgeklappt</translation>
    </message>
    <message>
        <source>collapsed</source>
        <translation>eingeklappt</translation>
    </message>
    <message>
        <source>SVG source</source>
        <translation>SVG-Quelltext</translation>
    </message>
</context>
<context>
    <name>SignInWindow</name>
    <message>
        <source>Sign in to Dravlin</source>
        <translation>Bei Dravlin anmelden</translation>
    </message>
    <message>
        <source>Loading the sign-in page…</source>
        <translation>Anmeldeseite wird geladen …</translation>
    </message>
</context>
<context>
    <name>Spinner</name>
    <message>
        <source>Working</source>
        <translation>In Arbeit</translation>
    </message>
</context>
<context>
    <name>Transcript</name>
    <message>
        <source>Prompt: %1</source>
        <translation>Prompt: %1</translation>
    </message>
    <message>
        <source>Model %1</source>
        <translation>Modell %1</translation>
    </message>
    <message>
        <source>Loading the model…</source>
        <translation>Modell wird geladen …</translation>
    </message>
    <message>
        <source>Thinking</source>
        <translation>Gedanken</translation>
    </message>
    <message>
        <source>Narration</source>
        <translation>Erzählung</translation>
    </message>
    <message>
        <source>Done in %1</source>
        <translation>Fertig in %1</translation>
    </message>
</context>
<context>
    <name>WebAuthSession</name>
    <message>
        <source>Couldn&apos;t open the sign-in window.</source>
        <translation>Das Anmeldefenster konnte nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>Couldn&apos;t reach the Dravlin sign-in page%1. Check your internet connection.</source>
        <translation>Die Anmeldeseite von Dravlin war nicht erreichbar%1. Bitte die Internetverbindung prüfen.</translation>
    </message>
    <message>
        <source>The Dravlin sign-in page&apos;s security certificate isn&apos;t valid%1.</source>
        <translation>Das Sicherheitszertifikat der Anmeldeseite von Dravlin ist ungültig%1.</translation>
    </message>
    <message>
        <source>Couldn&apos;t load the Dravlin sign-in page%1.</source>
        <translation>Die Anmeldeseite von Dravlin konnte nicht geladen werden%1.</translation>
    </message>
</context>
<context>
    <name>WordmarkRow</name>
    <message>
        <source>More</source>
        <translation>Mehr</translation>
    </message>
</context>
</TS>
