<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>QObject</name>
    <message>
        <source>No decodable audio found</source>
        <translation>Kein dekodierbares Audio gefunden</translation>
    </message>
    <message>
        <source>Timed out decoding audio</source>
        <translation>Zeitüberschreitung beim Dekodieren des Audios</translation>
    </message>
    <message>
        <source>Cannot read %1: not a regular file</source>
        <translation>%1 kann nicht gelesen werden: keine reguläre Datei</translation>
    </message>
    <message>
        <source>Cannot read %1: %2</source>
        <translation>%1 kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>Cannot seek within %1</source>
        <translation>Positionieren in %1 nicht möglich</translation>
    </message>
    <message>
        <source>Read error while hashing %1</source>
        <translation>Lesefehler beim Berechnen der Prüfsumme von %1</translation>
    </message>
    <message>
        <source>Cannot open file: %1</source>
        <translation>Datei kann nicht geöffnet werden: %1</translation>
    </message>
    <message>
        <source>Unrecognised or damaged %1 container</source>
        <translation>Unbekannter oder beschädigter %1-Container</translation>
    </message>
    <message>
        <source>the file is too large</source>
        <translation>die Datei ist zu groß</translation>
    </message>
    <message>
        <source>Refused to restore %1: the original place is not a plain absolute path</source>
        <translation>Wiederherstellen von %1 verweigert: der ursprüngliche Ort ist kein einfacher absoluter Pfad</translation>
    </message>
    <message>
        <source>Refused to restore %1: it is not inside the clean-up&apos;s quarantine folder</source>
        <translation>Wiederherstellen von %1 verweigert: die Datei liegt nicht im Quarantäneordner der Bereinigung</translation>
    </message>
    <message>
        <source>A file already exists at %1</source>
        <translation>Unter %1 existiert bereits eine Datei</translation>
    </message>
    <message>
        <source>Quarantined copy missing: %1</source>
        <translation>Kopie in der Quarantäne fehlt: %1</translation>
    </message>
    <message>
        <source>Refused to restore %1: it is not a regular file</source>
        <translation>Wiederherstellen von %1 verweigert: keine reguläre Datei</translation>
    </message>
    <message>
        <source>Refused to restore %1: its size changed since the clean-up</source>
        <translation>Wiederherstellen von %1 verweigert: die Größe hat sich seit der Bereinigung geändert</translation>
    </message>
    <message>
        <source>%1 no longer exists</source>
        <translation>%1 existiert nicht mehr</translation>
    </message>
    <message>
        <source>Could not move %1</source>
        <translation>%1 konnte nicht verschoben werden</translation>
    </message>
    <message>
        <source>cannot create the quarantine folder %1</source>
        <translation>der Quarantäneordner %1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>cannot create a folder in %1</source>
        <translation>in %1 kann kein Ordner angelegt werden</translation>
    </message>
    <message>
        <source>the undo manifest cannot be written (%1)</source>
        <translation>das Rückgängig-Manifest kann nicht geschrieben werden (%1)</translation>
    </message>
    <message>
        <source>every batch name of this second is taken</source>
        <translation>alle Stapelnamen dieser Sekunde sind bereits vergeben</translation>
    </message>
    <message>
        <source>Move to quarantine</source>
        <translation>In Quarantäne verschieben</translation>
    </message>
    <message>
        <source>Move to recycle bin</source>
        <translation>In den Papierkorb verschieben</translation>
    </message>
    <message>
        <source>Delete permanently</source>
        <translation>Endgültig löschen</translation>
    </message>
    <message>
        <source>Recycle bin unavailable for %1</source>
        <translation>Papierkorb für %1 nicht verfügbar</translation>
    </message>
    <message>
        <source>Could not delete %1: %2</source>
        <translation>%1 konnte nicht gelöscht werden: %2</translation>
    </message>
    <message>
        <source>The undo manifest %1 could not be completed (%2); it still restores every moved file.</source>
        <translation>Das Rückgängig-Manifest %1 konnte nicht vervollständigt werden (%2); es stellt trotzdem jede verschobene Datei wieder her.</translation>
    </message>
    <message>
        <source>Nothing was moved: %1.</source>
        <translation>Nichts wurde verschoben: %1.</translation>
    </message>
    <message>
        <source>cannot create its folder in the quarantine</source>
        <translation>ihr Ordner in der Quarantäne kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Could not move %1: %2</source>
        <translation>%1 konnte nicht verschoben werden: %2</translation>
    </message>
    <message numerus="yes">
        <source>%1 - %n file(s), interrupted</source>
        <translation>
            <numerusform>%1 - %n Datei, unterbrochen</numerusform>
            <numerusform>%1 - %n Dateien, unterbrochen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 - %n file(s)</source>
        <translation>
            <numerusform>%1 - %n Datei</numerusform>
            <numerusform>%1 - %n Dateien</numerusform>
        </translation>
    </message>
    <message>
        <source>Cannot read manifest: %1</source>
        <translation>Manifest kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>Cannot read manifest: %1 is damaged; it has been kept.</source>
        <translation>Manifest kann nicht gelesen werden: %1 ist beschädigt; es wurde aufbewahrt.</translation>
    </message>
    <message>
        <source>cannot create its folder</source>
        <translation>ihr Ordner kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Could not restore %1: %2</source>
        <translation>%1 konnte nicht wiederhergestellt werden: %2</translation>
    </message>
    <message>
        <source>cannot create a file in %1: %2</source>
        <translation>in %1 kann keine Datei angelegt werden: %2</translation>
    </message>
    <message>
        <source>read error: %1</source>
        <translation>Lesefehler: %1</translation>
    </message>
    <message>
        <source>write error in %1: %2</source>
        <translation>Schreibfehler in %1: %2</translation>
    </message>
    <message>
        <source>the file changed while it was copied</source>
        <translation>die Datei hat sich während des Kopierens geändert</translation>
    </message>
    <message>
        <source>the copy could not be written to the disk: %1</source>
        <translation>die Kopie konnte nicht auf den Datenträger geschrieben werden: %1</translation>
    </message>
    <message>
        <source>the copy could not be closed: %1</source>
        <translation>die Kopie konnte nicht geschlossen werden: %1</translation>
    </message>
    <message>
        <source>cannot read it: %1</source>
        <translation>nicht lesbar: %1</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>keine reguläre Datei</translation>
    </message>
    <message>
        <source>the copy read back differs from the original</source>
        <translation>die zurückgelesene Kopie weicht vom Original ab</translation>
    </message>
    <message>
        <source>%1 already exists</source>
        <translation>%1 existiert bereits</translation>
    </message>
    <message>
        <source>the copy could not be put in place: %1</source>
        <translation>die Kopie konnte nicht an ihren Platz gebracht werden: %1</translation>
    </message>
    <message>
        <source>the rename failed: %1</source>
        <translation>das Umbenennen ist fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>cannot remove %1: %2</source>
        <translation>%1 kann nicht entfernt werden: %2</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>Group %1: no copy to keep is still on disk as it was scanned; the group is left alone</source>
        <translation>Gruppe %1: keine zu behaltende Kopie liegt noch so auf dem Datenträger, wie sie beim Suchlauf vorgefunden wurde; die Gruppe bleibt unangetastet</translation>
    </message>
    <message>
        <source>Group %1: every copy is marked for removal; the group is left alone</source>
        <translation>Gruppe %1: jede Kopie ist zum Entfernen markiert; die Gruppe bleibt unangetastet</translation>
    </message>
    <message>
        <source>%1 is also a copy to keep; it is not removed</source>
        <translation>%1 ist ebenfalls eine zu behaltende Kopie; sie wird nicht entfernt</translation>
    </message>
    <message>
        <source>%1; skipped</source>
        <translation>%1; übersprungen</translation>
    </message>
    <message>
        <source>Identical file</source>
        <translation>Identische Datei</translation>
    </message>
    <message>
        <source>Same audio, different tags</source>
        <translation>Gleiches Audio, andere Tags</translation>
    </message>
    <message>
        <source>Same recording</source>
        <translation>Gleiche Aufnahme</translation>
    </message>
    <message>
        <source>Same song (metadata)</source>
        <translation>Gleicher Titel (Metadaten)</translation>
    </message>
    <message>
        <source>Unmatched</source>
        <translation>Ohne Übereinstimmung</translation>
    </message>
    <message>
        <source>Byte-for-byte identical copies. Safe to remove all but one.</source>
        <translation>Byte für Byte identische Kopien. Alle bis auf eine können gefahrlos entfernt werden.</translation>
    </message>
    <message>
        <source>The audio data is identical; only tags or artwork differ. Keep the copy with the best metadata.</source>
        <translation>Die Audiodaten sind identisch; nur Tags oder Cover unterscheiden sich. Behalten Sie die Kopie mit den besten Metadaten.</translation>
    </message>
    <message>
        <source>Acoustically the same recording, encoded differently. Keep the highest quality copy.</source>
        <translation>Akustisch dieselbe Aufnahme, anders kodiert. Behalten Sie die Kopie mit der höchsten Qualität.</translation>
    </message>
    <message>
        <source>Artist, title and duration agree. Review before removing - these may be legitimately different versions.</source>
        <translation>Interpret, Titel und Dauer stimmen überein. Vor dem Entfernen prüfen - es kann sich um tatsächlich verschiedene Fassungen handeln.</translation>
    </message>
    <message>
        <source>Highest bitrate</source>
        <translation>Höchste Bitrate</translation>
    </message>
    <message>
        <source>Longest duration</source>
        <translation>Längste Dauer</translation>
    </message>
    <message>
        <source>Largest file</source>
        <translation>Größte Datei</translation>
    </message>
    <message>
        <source>Preferred format</source>
        <translation>Bevorzugtes Format</translation>
    </message>
    <message>
        <source>Shallowest folder</source>
        <translation>Geringste Ordnertiefe</translation>
    </message>
    <message>
        <source>Oldest file</source>
        <translation>Älteste Datei</translation>
    </message>
    <message>
        <source>Newest file</source>
        <translation>Neueste Datei</translation>
    </message>
    <message>
        <source>Most complete tags</source>
        <translation>Vollständigste Tags</translation>
    </message>
    <message>
        <source>(unknown artist)</source>
        <translation>(unbekannter Interpret)</translation>
    </message>
    <message>
        <source>%1 kbps</source>
        <translation>%1 kbit/s</translation>
    </message>
    <message>
        <source>%1 kHz</source>
        <translation>%1 kHz</translation>
    </message>
    <message>
        <source>mono</source>
        <translation>mono</translation>
    </message>
    <message>
        <source>stereo</source>
        <translation>stereo</translation>
    </message>
    <message>
        <source>%1 ch</source>
        <translation>%1 Kan.</translation>
    </message>
    <message>
        <source>Comma separated values (*.csv)</source>
        <translation>Kommagetrennte Werte (*.csv)</translation>
    </message>
    <message>
        <source>HTML report (*.html)</source>
        <translation>HTML-Bericht (*.html)</translation>
    </message>
    <message>
        <source>JSON data (*.json)</source>
        <translation>JSON-Daten (*.json)</translation>
    </message>
    <message>
        <source>M3U playlist (*.m3u8)</source>
        <translation>M3U-Wiedergabeliste (*.m3u8)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>The analysis cache was damaged or not a cache (%1); it was moved aside to %2 and a new one started.</source>
        <translation>Der Analyse-Cache war beschädigt oder kein Cache (%1); er wurde nach %2 beiseitegelegt und ein neuer angelegt.</translation>
    </message>
    <message>
        <source>the file holds another program&apos;s table</source>
        <translation>die Datei enthält die Tabelle eines anderen Programms</translation>
    </message>
    <message>
        <source>damaged pages</source>
        <translation>beschädigte Seiten</translation>
    </message>
    <message>
        <source>the cache is not open</source>
        <translation>der Cache ist nicht geöffnet</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Match</source>
        <translation>Treffer</translation>
    </message>
    <message>
        <source>Artist</source>
        <translation>Interpret</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titel</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>Quality</source>
        <translation>Qualität</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Modified</source>
        <translation>Geändert</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message numerus="yes">
        <source>Group %1 - %n copies - %2 reclaimable</source>
        <translation>
            <numerusform>Gruppe %1 - %n Kopie - %2 einsparbar</numerusform>
            <numerusform>Gruppe %1 - %n Kopien - %2 einsparbar</numerusform>
        </translation>
    </message>
    <message>
        <source>KEEP</source>
        <translation>BEHALTEN</translation>
    </message>
    <message>
        <source>duplicate</source>
        <translation>Duplikat</translation>
    </message>
    <message>
        <source>%1

Note: %2</source>
        <translation>%1

Hinweis: %2</translation>
    </message>
    <message>
        <source>This file could not be decoded for preview.</source>
        <translation>Diese Datei konnte für die Vorschau nicht dekodiert werden.</translation>
    </message>
</context>
<context>
    <name>RemovalFlow</name>
    <message>
        <source>&lt;span style=&apos;color:#5b6b80&apos;&gt;Files keep their folder structure under&lt;br&gt;%1&lt;br&gt;and can be restored with Tools &amp;rarr; Undo Previous Clean-up.&lt;/span&gt;</source>
        <translation>&lt;span style=&apos;color:#5b6b80&apos;&gt;Die Dateien behalten ihre Ordnerstruktur unter&lt;br&gt;%1&lt;br&gt;und lassen sich wiederherstellen mit Extras &amp;rarr; Vorherige Bereinigung rückgängig machen.&lt;/span&gt;</translation>
    </message>
    <message>
        <source>&lt;span style=&apos;color:#5b6b80&apos;&gt;Files keep their folder structure under&lt;br&gt;%1&lt;/span&gt;</source>
        <translation>&lt;span style=&apos;color:#5b6b80&apos;&gt;Die Dateien behalten ihre Ordnerstruktur unter&lt;br&gt;%1&lt;/span&gt;</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n file(s) done</source>
        <translation>
            <numerusform>%1 von %n Datei erledigt</numerusform>
            <numerusform>%1 von %n Dateien erledigt</numerusform>
        </translation>
    </message>
    <message>
        <source>Stopping after the current file...</source>
        <translation>Wird nach der aktuellen Datei angehalten...</translation>
    </message>
    <message>
        <source>Remove duplicates</source>
        <translation>Duplikate entfernen</translation>
    </message>
    <message numerus="yes">
        <source>&lt;b&gt;%n file(s) selected, freeing %1.&lt;/b&gt;</source>
        <translation>
            <numerusform>&lt;b&gt;%n Datei ausgewählt, %1 werden frei.&lt;/b&gt;</numerusform>
            <numerusform>&lt;b&gt;%n Dateien ausgewählt, %1 werden frei.&lt;/b&gt;</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n of the ticked files are hidden by the filter.</source>
        <translation>
            <numerusform>%n der angehakten Dateien ist durch den Filter ausgeblendet.</numerusform>
            <numerusform>%n der angehakten Dateien sind durch den Filter ausgeblendet.</numerusform>
        </translation>
    </message>
    <message>
        <source>What should happen to them?</source>
        <translation>Was soll mit ihnen geschehen?</translation>
    </message>
    <message>
        <source>Move to &amp;quarantine folder (recommended)</source>
        <translation>In den &amp;Quarantäneordner verschieben (empfohlen)</translation>
    </message>
    <message>
        <source>Move to the recycle &amp;bin</source>
        <translation>In den &amp;Papierkorb verschieben</translation>
    </message>
    <message>
        <source>&amp;Delete permanently (cannot be undone)</source>
        <translation>Endgültig &amp;löschen (kann nicht rückgängig gemacht werden)</translation>
    </message>
    <message>
        <source>&amp;Change quarantine folder...</source>
        <translation>Quarantäneordner &amp;wechseln...</translation>
    </message>
    <message>
        <source>Choose a quarantine folder</source>
        <translation>Quarantäneordner wählen</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>Permanent deletion</source>
        <translation>Endgültiges Löschen</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) will be deleted permanently and cannot be recovered.

Are you certain?</source>
        <translation>
            <numerusform>%n Datei wird endgültig gelöscht und kann nicht wiederhergestellt werden.

Sind Sie sicher?</numerusform>
            <numerusform>%n Dateien werden endgültig gelöscht und können nicht wiederhergestellt werden.

Sind Sie sicher?</numerusform>
        </translation>
    </message>
    <message>
        <source>Removing duplicates</source>
        <translation>Duplikate werden entfernt</translation>
    </message>
    <message>
        <source>%1: %2 succeeded, %3 failed, %4 freed.</source>
        <translation>%1: %2 erfolgreich, %3 fehlgeschlagen, %4 freigegeben.</translation>
    </message>
    <message numerus="yes">
        <source>Removed %n file(s), freeing %1.</source>
        <translation>
            <numerusform>%n Datei entfernt, %1 freigegeben.</numerusform>
            <numerusform>%n Dateien entfernt, %1 freigegeben.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Clean-up cancelled: %n file(s) left in place.</source>
        <translation>
            <numerusform>Bereinigung abgebrochen: %n Datei an ihrem Platz belassen.</numerusform>
            <numerusform>Bereinigung abgebrochen: %n Dateien an ihrem Platz belassen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>

The clean-up was cancelled; %n file(s) were left in place.</source>
        <translation>
            <numerusform>

Die Bereinigung wurde abgebrochen; %n Datei wurde an ihrem Platz belassen.</numerusform>
            <numerusform>

Die Bereinigung wurde abgebrochen; %n Dateien wurden an ihrem Platz belassen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>

%n file(s) could not be removed - see the Activity Log.</source>
        <translation>
            <numerusform>

%n Datei konnte nicht entfernt werden - siehe Aktivitätsprotokoll.</numerusform>
            <numerusform>

%n Dateien konnten nicht entfernt werden - siehe Aktivitätsprotokoll.</numerusform>
        </translation>
    </message>
    <message>
        <source>

This clean-up can be reversed from Tools &gt; Undo Previous Clean-up.</source>
        <translation>

Sie können diese Bereinigung zurücknehmen mit Extras &gt; Vorherige Bereinigung rückgängig machen.</translation>
    </message>
    <message>
        <source>Clean-up cancelled</source>
        <translation>Bereinigung abgebrochen</translation>
    </message>
    <message>
        <source>Clean-up complete</source>
        <translation>Bereinigung abgeschlossen</translation>
    </message>
    <message>
        <source>Nothing to undo</source>
        <translation>Nichts rückgängig zu machen</translation>
    </message>
    <message>
        <source>No reversible clean-ups have been recorded.

Only quarantine moves can be undone; recycle bin and permanent deletions are handled by the operating system.</source>
        <translation>Es wurden keine umkehrbaren Bereinigungen aufgezeichnet.

Nur Verschiebungen in die Quarantäne lassen sich rückgängig machen; um Papierkorb und endgültiges Löschen kümmert sich das Betriebssystem.</translation>
    </message>
    <message>
        <source>Undo previous clean-up</source>
        <translation>Vorherige Bereinigung rückgängig machen</translation>
    </message>
    <message>
        <source>Select the clean-up to reverse:</source>
        <translation>Wählen Sie die Bereinigung, die rückgängig gemacht werden soll:</translation>
    </message>
    <message>
        <source>Undoing clean-up</source>
        <translation>Bereinigung wird rückgängig gemacht</translation>
    </message>
    <message>
        <source>Undo: %1 restored, %2 failed.</source>
        <translation>Rückgängig: %1 wiederhergestellt, %2 fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Undo failed</source>
        <translation>Rückgängigmachen fehlgeschlagen</translation>
    </message>
    <message>
        <source>Undo cancelled</source>
        <translation>Rückgängigmachen abgebrochen</translation>
    </message>
    <message numerus="yes">
        <source>Restored %n file(s). The others are still in the quarantine; choose this clean-up again to restore them.</source>
        <translation>
            <numerusform>%n Datei wiederhergestellt. Die übrigen liegen noch in der Quarantäne; wählen Sie diese Bereinigung erneut, um sie wiederherzustellen.</numerusform>
            <numerusform>%n Dateien wiederhergestellt. Die übrigen liegen noch in der Quarantäne; wählen Sie diese Bereinigung erneut, um sie wiederherzustellen.</numerusform>
        </translation>
    </message>
    <message>
        <source>Undo complete</source>
        <translation>Rückgängigmachen abgeschlossen</translation>
    </message>
    <message numerus="yes">
        <source>Restored %n file(s) to their original locations.</source>
        <translation>
            <numerusform>%n Datei an ihrem ursprünglichen Ort wiederhergestellt.</numerusform>
            <numerusform>%n Dateien an ihren ursprünglichen Orten wiederhergestellt.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Restored %n file(s).</source>
        <translation>
            <numerusform>%n Datei wiederhergestellt.</numerusform>
            <numerusform>%n Dateien wiederhergestellt.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) could not be restored. See the Activity Log.</source>
        <translation>
            <numerusform>%n Datei konnte nicht wiederhergestellt werden. Siehe Aktivitätsprotokoll.</numerusform>
            <numerusform>%n Dateien konnten nicht wiederhergestellt werden. Siehe Aktivitätsprotokoll.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Ravelwick - find duplicate music in a station library.</source>
        <translation>Ravelwick - findet doppelte Musik im Musikarchiv eines Senders.</translation>
    </message>
    <message>
        <source>Add &lt;folder&gt; to the scan list on startup.</source>
        <translation>Nimmt &lt;Ordner&gt; beim Start in die Liste der zu durchsuchenden Ordner auf.</translation>
    </message>
    <message>
        <source>folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Begin scanning immediately.</source>
        <translation>Startet den Suchlauf sofort.</translation>
    </message>
    <message>
        <source>Folders to add to the scan list.</source>
        <translation>Ordner, die der Liste der zu durchsuchenden Ordner hinzugefügt werden.</translation>
    </message>
    <message>
        <source>[folder...]</source>
        <translation>[Ordner...]</translation>
    </message>
</context>
<context>
    <name>ravelwick-cli</name>
    <message numerus="yes">
        <source>Not checked: %n folder(s)</source>
        <translation><numerusform>Nicht geprüft: %n Ordner</numerusform><numerusform>Nicht geprüft: %n Ordner</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>, %n file(s)</source>
        <translation><numerusform>, %n Datei</numerusform><numerusform>, %n Dateien</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Would move %n file(s) into %1, freeing %2.</source>
        <translation><numerusform>Würde %n Datei nach %1 verschieben und %2 freigeben.</numerusform><numerusform>Würde %n Dateien nach %1 verschieben und %2 freigeben.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Moved %n file(s) into %1, freeing %2; </source>
        <translation><numerusform>%n Datei nach %1 verschoben, %2 freigegeben; </numerusform><numerusform>%n Dateien nach %1 verschoben, %2 freigegeben; </numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Interrupted: %n file(s) were left in place.</source>
        <translation><numerusform>Unterbrochen: %n Datei blieb an ihrem Ort.</numerusform><numerusform>Unterbrochen: %n Dateien blieben an ihrem Ort.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Restored %n file(s); </source>
        <translation><numerusform>%n Datei wiederhergestellt; </numerusform><numerusform>%n Dateien wiederhergestellt; </numerusform></translation>
    </message>
</context>
<context>
    <name>rvw::AboutDialog</name>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
</context>
<context>
    <name>rvw::ComparePlayer</name>
    <message>
        <source>DECK %1</source>
        <translation>DECK %1</translation>
    </message>
    <message>
        <source>— no file loaded —</source>
        <translation>— keine Datei geladen —</translation>
    </message>
    <message>
        <source>MONITOR</source>
        <translation>MONITOR</translation>
    </message>
    <message>
        <source>Listen to deck %1 (%2)</source>
        <translation>Deck %1 abhören (%2)</translation>
    </message>
    <message>
        <source>PLAY</source>
        <translation>PLAY</translation>
    </message>
    <message>
        <source>Play or pause both decks</source>
        <translation>Beide Decks abspielen oder pausieren</translation>
    </message>
    <message>
        <source>PAUSE</source>
        <translation>PAUSE</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOP</translation>
    </message>
    <message>
        <source>LINK</source>
        <translation>LINK</translation>
    </message>
    <message>
        <source>Keep both decks at the same position so the A/B switch
compares the same moment of the recording.</source>
        <translation>Hält beide Decks an derselben Position, damit die A/B-Umschaltung
denselben Moment der Aufnahme vergleicht.</translation>
    </message>
    <message>
        <source>LEVEL</source>
        <translation>LEVEL</translation>
    </message>
    <message>
        <source>Play the louder deck as loud as the quieter one, measured over
the whole file, so the louder copy does not sound better for it.</source>
        <translation>Spielt das lautere Deck so laut wie das leisere ab, gemessen über
die ganze Datei, damit die lautere Kopie nicht allein dadurch besser klingt.</translation>
    </message>
    <message>
        <source>B − A</source>
        <translation>B − A</translation>
    </message>
    <message>
        <source>%1
in %2</source>
        <translation>%1
in %2</translation>
    </message>
    <message>
        <source>Deck %1: %2 could not be loaded: %3</source>
        <translation>Deck %1: %2 konnte nicht geladen werden: %3</translation>
    </message>
    <message>
        <source>%1%2 s</source>
        <translation>%1%2 s</translation>
    </message>
    <message>
        <source>%1%2 k</source>
        <translation>%1%2 k</translation>
    </message>
    <message>
        <source>Bit rate of deck B relative to deck A.</source>
        <translation>Bitrate von Deck B relativ zu Deck A.</translation>
    </message>
</context>
<context>
    <name>rvw::MainWindow</name>
    <message numerus="yes">
        <source>%n folder(s)</source>
        <translation>
            <numerusform>%n Ordner</numerusform>
            <numerusform>%n Ordner</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation>
            <numerusform>%n Datei</numerusform>
            <numerusform>%n Dateien</numerusform>
        </translation>
    </message>
    <message>
        <source>Not checked: %1 and %2 - see the Activity Log.</source>
        <translation>Nicht geprüft: %1 und %2 - siehe Aktivitätsprotokoll.</translation>
    </message>
    <message>
        <source>Not checked: %1 - see the Activity Log.</source>
        <translation>Nicht geprüft: %1 - siehe Aktivitätsprotokoll.</translation>
    </message>
    <message>
        <source>%1 %2 ready.</source>
        <translation>%1 %2 bereit.</translation>
    </message>
    <message>
        <source>&amp;Add Folder...</source>
        <translation>Ordner &amp;hinzufügen...</translation>
    </message>
    <message>
        <source>&amp;Remove Folder</source>
        <translation>Ordner &amp;entfernen</translation>
    </message>
    <message>
        <source>&amp;Start Scan</source>
        <translation>Suchlauf &amp;starten</translation>
    </message>
    <message>
        <source>S&amp;top</source>
        <translation>&amp;Anhalten</translation>
    </message>
    <message>
        <source>Select &amp;All Duplicates</source>
        <translation>&amp;Alle Duplikate auswählen</translation>
    </message>
    <message>
        <source>Tick every copy except the one chosen to keep.</source>
        <translation>Alle Kopien außer der zu behaltenden anhaken.</translation>
    </message>
    <message>
        <source>&amp;Clear Selection</source>
        <translation>Auswahl auf&amp;heben</translation>
    </message>
    <message>
        <source>&amp;Invert Selection</source>
        <translation>Auswahl &amp;umkehren</translation>
    </message>
    <message>
        <source>&amp;Remove Selected...</source>
        <translation>Ausgewählte &amp;entfernen...</translation>
    </message>
    <message>
        <source>&amp;Undo Previous Clean-up...</source>
        <translation>Vorherige Bereinigung &amp;rückgängig machen...</translation>
    </message>
    <message>
        <source>&amp;Export Report...</source>
        <translation>Bericht e&amp;xportieren...</translation>
    </message>
    <message>
        <source>&amp;Settings...</source>
        <translation>&amp;Einstellungen...</translation>
    </message>
    <message>
        <source>Check for &amp;Updates...</source>
        <translation>Nach &amp;Aktualisierungen suchen...</translation>
    </message>
    <message>
        <source>&amp;About %1</source>
        <translation>Ü&amp;ber %1</translation>
    </message>
    <message>
        <source>&amp;Play / Pause</source>
        <translation>&amp;Wiedergabe / Pause</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>&amp;Stopp</translation>
    </message>
    <message>
        <source>Listen to Deck &amp;A</source>
        <translation>Deck &amp;A abhören</translation>
    </message>
    <message>
        <source>Listen to Deck &amp;B</source>
        <translation>Deck &amp;B abhören</translation>
    </message>
    <message>
        <source>S&amp;witch A / B</source>
        <translation>Zwischen A / B &amp;umschalten</translation>
    </message>
    <message>
        <source>Cut between the two decks without losing your place.</source>
        <translation>Zwischen den beiden Decks umschalten, ohne die Position zu verlieren.</translation>
    </message>
    <message>
        <source>&amp;Keep Decks in Sync</source>
        <translation>&amp;Decks synchron halten</translation>
    </message>
    <message>
        <source>Comparison &amp;Player</source>
        <translation>Vergleichs&amp;player</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Folders to scan</source>
        <translation>Zu durchsuchende Ordner</translation>
    </message>
    <message>
        <source>A&amp;dd...</source>
        <translation>Hin&amp;zufügen...</translation>
    </message>
    <message>
        <source>Re&amp;move</source>
        <translation>Ent&amp;fernen</translation>
    </message>
    <message>
        <source>Fi&amp;lter:</source>
        <translation>Fi&amp;lter:</translation>
    </message>
    <message>
        <source>Artist, title, file name or folder...</source>
        <translation>Interpret, Titel, Dateiname oder Ordner...</translation>
    </message>
    <message>
        <source>No scan has been run yet.</source>
        <translation>Es wurde noch kein Suchlauf durchgeführt.</translation>
    </message>
    <message>
        <source>Activity Log</source>
        <translation>Aktivitätsprotokoll</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>Activity &amp;Log</source>
        <translation>&amp;Aktivitätsprotokoll</translation>
    </message>
    <message>
        <source>&amp;Scan</source>
        <translation>&amp;Suchlauf</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>&amp;Player</source>
        <translation>&amp;Wiedergabe</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>&amp;Extras</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Main</source>
        <translation>Hauptwerkzeugleiste</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>Select a music folder</source>
        <translation>Musikordner auswählen</translation>
    </message>
    <message>
        <source>Nothing to scan</source>
        <translation>Nichts zu durchsuchen</translation>
    </message>
    <message>
        <source>Add at least one folder containing music before starting a scan.</source>
        <translation>Fügen Sie mindestens einen Ordner mit Musik hinzu, bevor Sie einen Suchlauf starten.</translation>
    </message>
    <message>
        <source>No detection method enabled</source>
        <translation>Keine Erkennungsmethode aktiviert</translation>
    </message>
    <message>
        <source>Enable at least one detection method in Settings before scanning.</source>
        <translation>Aktivieren Sie vor dem Suchlauf mindestens eine Erkennungsmethode in den Einstellungen.</translation>
    </message>
    <message>
        <source>--- Scan started %1 ---</source>
        <translation>--- Suchlauf gestartet %1 ---</translation>
    </message>
    <message>
        <source>Stopping...</source>
        <translation>Wird angehalten...</translation>
    </message>
    <message>
        <source>Scan cancelled after %1</source>
        <translation>Suchlauf nach %1 abgebrochen</translation>
    </message>
    <message>
        <source>--- Scan cancelled after %1 ---</source>
        <translation>--- Suchlauf nach %1 abgebrochen ---</translation>
    </message>
    <message>
        <source>Scan complete in %1</source>
        <translation>Suchlauf in %1 abgeschlossen</translation>
    </message>
    <message>
        <source>--- Scan complete in %1 ---</source>
        <translation>--- Suchlauf in %1 abgeschlossen ---</translation>
    </message>
    <message>
        <source>Scan failed: %1</source>
        <translation>Suchlauf fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Scan in progress</source>
        <translation>Suchlauf läuft</translation>
    </message>
    <message>
        <source>A scan is still running. Stop it and close %1?</source>
        <translation>Ein Suchlauf läuft noch. Suchlauf anhalten und %1 schließen?</translation>
    </message>
    <message>
        <source>The scan was cancelled while looking for files - the results are incomplete.</source>
        <translation>Der Suchlauf wurde während der Dateisuche abgebrochen - die Ergebnisse sind unvollständig.</translation>
    </message>
    <message numerus="yes">
        <source>The scan was cancelled after finding %n file(s), before they were compared - the results are incomplete.</source>
        <translation>
            <numerusform>Der Suchlauf wurde abgebrochen, nachdem %n Datei gefunden, aber noch nicht verglichen war - die Ergebnisse sind unvollständig.</numerusform>
            <numerusform>Der Suchlauf wurde abgebrochen, nachdem %n Dateien gefunden, aber noch nicht verglichen waren - die Ergebnisse sind unvollständig.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Scanned %n file(s) - no duplicates found.</source>
        <translation>
            <numerusform>%n Datei durchsucht - keine Duplikate gefunden.</numerusform>
            <numerusform>%n Dateien durchsucht - keine Duplikate gefunden.</numerusform>
        </translation>
    </message>
    <message>
        <source>No audio files were found in the scanned folders (looking for: %1), so there was nothing to compare.</source>
        <translation>In den durchsuchten Ordnern wurden keine Audiodateien gefunden (gesucht nach: %1), daher gab es nichts zu vergleichen.</translation>
    </message>
    <message>
        <source>No files were scanned.</source>
        <translation>Es wurden keine Dateien durchsucht.</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) scanned</source>
        <translation>
            <numerusform>%n Datei durchsucht</numerusform>
            <numerusform>%n Dateien durchsucht</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source> - %n duplicate group(s)</source>
        <translation>
            <numerusform> - %n Duplikatgruppe</numerusform>
            <numerusform> - %n Duplikatgruppen</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source> - %n redundant copies (%1).</source>
        <translation>
            <numerusform> - %n überzählige Kopie (%1).</numerusform>
            <numerusform> - %n überzählige Kopien (%1).</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source> Currently selected for removal: %n file(s), %1.</source>
        <translation>
            <numerusform> Derzeit zum Entfernen ausgewählt: %n Datei, %1.</numerusform>
            <numerusform> Derzeit zum Entfernen ausgewählt: %n Dateien, %1.</numerusform>
        </translation>
    </message>
    <message>
        <source>The scan was cancelled - the results are incomplete.</source>
        <translation>Der Suchlauf wurde abgebrochen - die Ergebnisse sind unvollständig.</translation>
    </message>
    <message>
        <source>Nothing selected</source>
        <translation>Nichts ausgewählt</translation>
    </message>
    <message>
        <source>Tick the copies you want removed, or use Select All Duplicates.</source>
        <translation>Haken Sie die Kopien an, die entfernt werden sollen, oder verwenden Sie Bearbeiten &gt; Alle Duplikate auswählen.</translation>
    </message>
    <message>
        <source>Every copy selected</source>
        <translation>Alle Kopien ausgewählt</translation>
    </message>
    <message>
        <source>Group %1 has all of its copies ticked for removal. Untick at least one so a copy survives.</source>
        <translation>In Gruppe %1 sind alle Kopien zum Entfernen angehakt. Entfernen Sie bei mindestens einer den Haken, damit eine Kopie erhalten bleibt.</translation>
    </message>
    <message>
        <source>Kept copy missing</source>
        <translation>Zu behaltende Kopie fehlt</translation>
    </message>
    <message>
        <source>Group %1 has no unticked copy that is still on disk as it was scanned: removing the others could lose the last copy. Untick a copy that is still there, or scan again.</source>
        <translation>Gruppe %1 hat keine nicht angehakte Kopie, die noch so auf dem Datenträger liegt, wie sie beim Suchlauf vorgefunden wurde: Wenn die anderen entfernt werden, könnte die letzte Kopie verloren gehen. Entfernen Sie den Haken bei einer noch vorhandenen Kopie, oder starten Sie einen neuen Suchlauf.</translation>
    </message>
    <message>
        <source>Load into Deck A</source>
        <translation>In Deck A laden</translation>
    </message>
    <message>
        <source>Load into Deck B</source>
        <translation>In Deck B laden</translation>
    </message>
    <message>
        <source>Play in system player</source>
        <translation>Im Systemplayer abspielen</translation>
    </message>
    <message>
        <source>Open containing folder</source>
        <translation>Enthaltenden Ordner öffnen</translation>
    </message>
    <message>
        <source>Copy full path</source>
        <translation>Vollständigen Pfad kopieren</translation>
    </message>
    <message>
        <source>Path copied to clipboard.</source>
        <translation>Pfad in die Zwischenablage kopiert.</translation>
    </message>
    <message>
        <source>Keep this copy instead</source>
        <translation>Stattdessen diese Kopie behalten</translation>
    </message>
    <message>
        <source>File details...</source>
        <translation>Dateidetails...</translation>
    </message>
    <message>
        <source>not computed</source>
        <translation>nicht berechnet</translation>
    </message>
    <message>
        <source>File details</source>
        <translation>Dateidetails</translation>
    </message>
    <message>
        <source>&lt;b&gt;%1&lt;/b&gt;&lt;br&gt;&lt;br&gt;Folder: %2&lt;br&gt;Artist: %3&lt;br&gt;Title: %4&lt;br&gt;Album: %5&lt;br&gt;Duration: %6&lt;br&gt;Quality: %7&lt;br&gt;Size: %8&lt;br&gt;Modified: %9&lt;br&gt;&lt;br&gt;SHA-256: %10&lt;br&gt;Audio SHA-256: %11&lt;br&gt;Fingerprint words: %12</source>
        <translation>&lt;b&gt;%1&lt;/b&gt;&lt;br&gt;&lt;br&gt;Ordner: %2&lt;br&gt;Interpret: %3&lt;br&gt;Titel: %4&lt;br&gt;Album: %5&lt;br&gt;Dauer: %6&lt;br&gt;Qualität: %7&lt;br&gt;Größe: %8&lt;br&gt;Geändert: %9&lt;br&gt;&lt;br&gt;SHA-256: %10&lt;br&gt;Audio-SHA-256: %11&lt;br&gt;Fingerabdruck-Wörter: %12</translation>
    </message>
    <message>
        <source>Nothing to export</source>
        <translation>Nichts zu exportieren</translation>
    </message>
    <message>
        <source>Run a scan first - there are no results to report on.</source>
        <translation>Führen Sie zuerst einen Suchlauf durch - es gibt noch keine Ergebnisse für einen Bericht.</translation>
    </message>
    <message>
        <source>Export duplicate report</source>
        <translation>Duplikatbericht exportieren</translation>
    </message>
    <message>
        <source>Replace report</source>
        <translation>Bericht ersetzen</translation>
    </message>
    <message>
        <source>%1 already exists.

Replace it?</source>
        <translation>%1 existiert bereits.

Ersetzen?</translation>
    </message>
    <message>
        <source>Export failed</source>
        <translation>Export fehlgeschlagen</translation>
    </message>
    <message>
        <source>Could not write the report:

%1</source>
        <translation>Der Bericht konnte nicht geschrieben werden:

%1</translation>
    </message>
    <message>
        <source>Report written to %1</source>
        <translation>Bericht geschrieben nach %1</translation>
    </message>
    <message>
        <source>Report saved</source>
        <translation>Bericht gespeichert</translation>
    </message>
    <message>
        <source>Report saved to:
%1

Open it now?</source>
        <translation>Bericht gespeichert unter:
%1

Jetzt öffnen?</translation>
    </message>
    <message>
        <source>Settings updated.</source>
        <translation>Einstellungen aktualisiert.</translation>
    </message>
    <message>
        <source>Analysis cache cleared.</source>
        <translation>Analyse-Cache geleert.</translation>
    </message>
    <message>
        <source>Could not clear the analysis cache: %1</source>
        <translation>Der Analyse-Cache konnte nicht geleert werden: %1</translation>
    </message>
    <message>
        <source>Checking %1 for updates...</source>
        <translation>Suche auf %1 nach Aktualisierungen...</translation>
    </message>
    <message>
        <source>Important update available: version %1.</source>
        <translation>Wichtige Aktualisierung verfügbar: Version %1.</translation>
    </message>
    <message>
        <source>Update available: version %1.</source>
        <translation>Aktualisierung verfügbar: Version %1.</translation>
    </message>
    <message>
        <source>%1 %2 is up to date.</source>
        <translation>%1 %2 ist auf dem neuesten Stand.</translation>
    </message>
    <message>
        <source>No update available</source>
        <translation>Keine Aktualisierung verfügbar</translation>
    </message>
    <message>
        <source>You are running the latest version of %1 (%2).</source>
        <translation>Sie verwenden die neueste Version von %1 (%2).</translation>
    </message>
    <message>
        <source>Update check failed: %1</source>
        <translation>Suche nach Aktualisierungen fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Update check failed</source>
        <translation>Suche nach Aktualisierungen fehlgeschlagen</translation>
    </message>
    <message>
        <source>Could not reach the update service.

%1</source>
        <translation>Der Aktualisierungsdienst ist nicht erreichbar.

%1</translation>
    </message>
</context>
<context>
    <name>rvw::ScanController</name>
    <message numerus="yes">
        <source>... and %n more folder(s).</source>
        <translation>
            <numerusform>... und %n weiterer Ordner.</numerusform>
            <numerusform>... und %n weitere Ordner.</numerusform>
        </translation>
    </message>
    <message>
        <source>Folder not checked, it could not be read: %1</source>
        <translation>Ordner nicht geprüft, er ist nicht lesbar: %1</translation>
    </message>
    <message>
        <source>Folder not checked, it lies too deep: %1</source>
        <translation>Ordner nicht geprüft, er liegt zu tief: %1</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) not checked: their names (or their folders&apos; names) are not valid UTF-8 and cannot be opened. Rename them to include them.</source>
        <translation>
            <numerusform>%n Datei nicht geprüft: ihr Name (oder der Name ihres Ordners) ist kein gültiges UTF-8, daher kann sie nicht geöffnet werden. Benennen Sie sie um, um sie einzubeziehen.</numerusform>
            <numerusform>%n Dateien nicht geprüft: ihre Namen (oder die Namen ihrer Ordner) sind kein gültiges UTF-8, daher können sie nicht geöffnet werden. Benennen Sie sie um, um sie einzubeziehen.</numerusform>
        </translation>
    </message>
    <message>
        <source>Names not valid UTF-8 in: %1</source>
        <translation>Namen mit ungültigem UTF-8 in: %1</translation>
    </message>
    <message numerus="yes">
        <source>Skipped %n device(s), FIFO(s) or socket(s) named like audio files.</source>
        <translation>
            <numerusform>%n Gerät, FIFO oder Socket mit dem Namen einer Audiodatei übersprungen.</numerusform>
            <numerusform>%n Geräte, FIFOs oder Sockets mit Namen wie Audiodateien übersprungen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n further name(s) of files already found (hard or symbolic links) were counted once.</source>
        <translation>
            <numerusform>%n weiterer Name einer bereits gefundenen Datei (harter oder symbolischer Link) wurde nur einmal gezählt.</numerusform>
            <numerusform>%n weitere Namen bereits gefundener Dateien (harte oder symbolische Links) wurden nur einmal gezählt.</numerusform>
        </translation>
    </message>
    <message>
        <source>Analysis cache unavailable (%1) - continuing without it.</source>
        <translation>Analyse-Cache nicht verfügbar (%1) - es wird ohne ihn fortgefahren.</translation>
    </message>
    <message>
        <source>Fingerprinting audio</source>
        <translation>Fingerabdrücke werden berechnet</translation>
    </message>
    <message>
        <source>Chromaprint fpcalc (%1)</source>
        <translation>Chromaprint fpcalc (%1)</translation>
    </message>
    <message>
        <source>built-in analysis, ffmpeg decode</source>
        <translation>eingebauter Analyse und ffmpeg-Dekodierung</translation>
    </message>
    <message>
        <source>built-in analysis, Qt decode</source>
        <translation>eingebauter Analyse und Qt-Dekodierung</translation>
    </message>
    <message numerus="yes">
        <source>Fingerprinting %n file(s)</source>
        <translation>
            <numerusform>Fingerabdruckberechnung für %n Datei</numerusform>
            <numerusform>Fingerabdruckberechnung für %n Dateien</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source> on %n thread(s)</source>
        <translation>
            <numerusform> in %n Thread</numerusform>
            <numerusform> in %n Threads</numerusform>
        </translation>
    </message>
    <message>
        <source> using %1.</source>
        <translation> mit %1.</translation>
    </message>
    <message>
        <source>Tip: installing Chromaprint&apos;s fpcalc and putting it on the PATH makes fingerprinting several times faster and more accurate.</source>
        <translation>Tipp: Wenn Sie fpcalc von Chromaprint installieren und in den PATH aufnehmen, wird die Fingerabdruckberechnung um ein Mehrfaches schneller und genauer.</translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) could not be decoded for fingerprinting. They are still checked by hash and metadata.</source>
        <translation>
            <numerusform>%n Datei konnte für den Fingerabdruck nicht dekodiert werden. Sie wird weiterhin anhand von Prüfsumme und Metadaten geprüft.</numerusform>
            <numerusform>%n Dateien konnten für den Fingerabdruck nicht dekodiert werden. Sie werden weiterhin anhand von Prüfsumme und Metadaten geprüft.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n analysis result(s) could not be stored in the cache (%1); they are analysed again next time.</source>
        <translation>
            <numerusform>%n Analyseergebnis konnte nicht im Cache gespeichert werden (%1); die Datei wird beim nächsten Mal erneut analysiert.</numerusform>
            <numerusform>%n Analyseergebnisse konnten nicht im Cache gespeichert werden (%1); die Dateien werden beim nächsten Mal erneut analysiert.</numerusform>
        </translation>
    </message>
    <message>
        <source>Scanning folders</source>
        <translation>Ordner werden durchsucht</translation>
    </message>
    <message>
        <source>No audio files matched the current filters.</source>
        <translation>Keine Audiodateien entsprechen den aktuellen Filtern.</translation>
    </message>
    <message>
        <source>Checking cache</source>
        <translation>Cache wird geprüft</translation>
    </message>
    <message>
        <source>Reading tags and hashing</source>
        <translation>Tags werden gelesen und Prüfsummen berechnet</translation>
    </message>
    <message numerus="yes">
        <source>Skipped %n file(s) shorter than %1 seconds.</source>
        <translation>
            <numerusform>%n Datei kürzer als %1 Sekunden übersprungen.</numerusform>
            <numerusform>%n Dateien kürzer als %1 Sekunden übersprungen.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Removed %n cached result(s) of files that no longer exist.</source>
        <translation>
            <numerusform>%n zwischengespeichertes Ergebnis einer nicht mehr vorhandenen Datei entfernt.</numerusform>
            <numerusform>%n zwischengespeicherte Ergebnisse nicht mehr vorhandener Dateien entfernt.</numerusform>
        </translation>
    </message>
    <message>
        <source>Grouping duplicates</source>
        <translation>Duplikate werden gruppiert</translation>
    </message>
    <message numerus="yes">
        <source>Found %n duplicate group(s); %1 could be reclaimed.</source>
        <translation>
            <numerusform>%n Duplikatgruppe gefunden; %1 könnten eingespart werden.</numerusform>
            <numerusform>%n Duplikatgruppen gefunden; %1 könnten eingespart werden.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Analysis cache: %n entries at %1</source>
        <translation>
            <numerusform>Analyse-Cache: %n Eintrag in %1</numerusform>
            <numerusform>Analyse-Cache: %n Einträge in %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Hashed %1 of %n grouped file(s)</source>
        <translation>
            <numerusform>Prüfsumme für %1 von %n gruppierten Datei berechnet</numerusform>
            <numerusform>Prüfsummen für %1 von %n gruppierten Dateien berechnet</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Fingerprinted %1 of %n file(s)</source>
        <translation>
            <numerusform>Fingerabdruck für %1 von %n Datei berechnet</numerusform>
            <numerusform>Fingerabdrücke für %1 von %n Dateien berechnet</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) found</source>
        <translation>
            <numerusform>%n Datei gefunden</numerusform>
            <numerusform>%n Dateien gefunden</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Discovered %n audio file(s).</source>
        <translation>
            <numerusform>%n Audiodatei gefunden.</numerusform>
            <numerusform>%n Audiodateien gefunden.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Checked %1 of %n file(s)</source>
        <translation>
            <numerusform>%1 von %n Datei geprüft</numerusform>
            <numerusform>%1 von %n Dateien geprüft</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Reused %n cached analysis result(s).</source>
        <translation>
            <numerusform>%n zwischengespeichertes Analyseergebnis wiederverwendet.</numerusform>
            <numerusform>%n zwischengespeicherte Analyseergebnisse wiederverwendet.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Analysed %1 of %n file(s)</source>
        <translation>
            <numerusform>%1 von %n Datei analysiert</numerusform>
            <numerusform>%1 von %n Dateien analysiert</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Hashed %1 of %n file(s)</source>
        <translation>
            <numerusform>Prüfsumme für %1 von %n Datei berechnet</numerusform>
            <numerusform>Prüfsummen für %1 von %n Dateien berechnet</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>rvw::SettingsDialog</name>
    <message>
        <source>Cache unavailable.</source>
        <translation>Cache nicht verfügbar.</translation>
    </message>
    <message>
        <source>%1 Settings</source>
        <translation>%1-Einstellungen</translation>
    </message>
    <message>
        <source>&amp;Detection</source>
        <translation>&amp;Erkennung</translation>
    </message>
    <message>
        <source>&amp;Files</source>
        <translation>&amp;Dateien</translation>
    </message>
    <message>
        <source>&amp;Performance</source>
        <translation>&amp;Leistung</translation>
    </message>
    <message>
        <source>&amp;Updates</source>
        <translation>Akt&amp;ualisierungen</translation>
    </message>
    <message>
        <source>Detection methods</source>
        <translation>Erkennungsmethoden</translation>
    </message>
    <message>
        <source>&amp;Identical files (SHA-256 of the whole file)</source>
        <translation>&amp;Identische Dateien (SHA-256 der ganzen Datei)</translation>
    </message>
    <message>
        <source>Fastest and completely certain. Catches straight copies.</source>
        <translation>Am schnellsten und völlig sicher. Findet unveränderte Kopien.</translation>
    </message>
    <message>
        <source>Same audio, different &amp;tags</source>
        <translation>Gleiches Audio, andere &amp;Tags</translation>
    </message>
    <message>
        <source>Hashes only the audio payload, ignoring ID3 tags and artwork, so a retagged copy is still recognised.</source>
        <translation>Berechnet die Prüfsumme nur über die Audiodaten und ignoriert ID3-Tags und Cover, sodass auch eine neu getaggte Kopie erkannt wird.</translation>
    </message>
    <message>
        <source>Acoustic fingerprint (same &amp;recording, re-encoded)</source>
        <translation>Akustischer &amp;Fingerabdruck (gleiche Aufnahme, neu kodiert)</translation>
    </message>
    <message>
        <source>Decodes and fingerprints each file locally. Slower on the first pass, but catches the same track ripped at a different bitrate. No online service is used.</source>
        <translation>Dekodiert jede Datei lokal und berechnet ihren Fingerabdruck. Beim ersten Durchlauf langsamer, findet aber denselben Titel, der mit anderer Bitrate gerippt wurde. Es wird kein Onlinedienst verwendet.</translation>
    </message>
    <message>
        <source>&amp;Matching artist, title and duration</source>
        <translation>&amp;Gleicher Interpret, gleicher Titel, gleiche Dauer</translation>
    </message>
    <message>
        <source>Broadest and least certain. Will flag legitimately different versions, so always review these groups.</source>
        <translation>Am breitesten und am wenigsten sicher. Markiert auch tatsächlich verschiedene Fassungen, prüfen Sie diese Gruppen daher immer.</translation>
    </message>
    <message>
        <source>Sensitivity</source>
        <translation>Empfindlichkeit</translation>
    </message>
    <message>
        <source>Maximum fingerprint bit-error-rate accepted as a match. Lower is stricter. The default of 0.25 was chosen to catch the same
track re-encoded across formats while leaving clear margin
against unrelated music.</source>
        <translation>Höchste Bitfehlerrate der Fingerabdrücke, die noch als Treffer gilt. Niedriger ist strenger. Der Standardwert 0,25 findet denselben
Titel auch über Formatgrenzen hinweg neu kodiert und hält dabei deutlichen Abstand
zu fremder Musik.</translation>
    </message>
    <message>
        <source>Acoustic match threshold:</source>
        <translation>Schwelle für akustische Treffer:</translation>
    </message>
    <message>
        <source>Maximum share of differing bits between two Chromaprint fingerprints accepted as a match. Lower is stricter.</source>
        <translation>Höchster Anteil abweichender Bits zwischen zwei Chromaprint-Fingerabdrücken, der noch als Treffer gilt. Niedriger ist strenger.</translation>
    </message>
    <message>
        <source>Duration tolerance (acoustic):</source>
        <translation>Toleranz der Dauer (akustisch):</translation>
    </message>
    <message>
        <source>Duration tolerance (metadata):</source>
        <translation>Toleranz der Dauer (Metadaten):</translation>
    </message>
    <message>
        <source>Highest bitrate</source>
        <translation>Höchste Bitrate</translation>
    </message>
    <message>
        <source>Longest duration</source>
        <translation>Längste Dauer</translation>
    </message>
    <message>
        <source>Largest file</source>
        <translation>Größte Datei</translation>
    </message>
    <message>
        <source>Preferred format</source>
        <translation>Bevorzugtes Format</translation>
    </message>
    <message>
        <source>Shallowest folder</source>
        <translation>Geringste Ordnertiefe</translation>
    </message>
    <message>
        <source>Oldest file</source>
        <translation>Älteste Datei</translation>
    </message>
    <message>
        <source>Newest file</source>
        <translation>Neueste Datei</translation>
    </message>
    <message>
        <source>Most complete tags</source>
        <translation>Vollständigste Tags</translation>
    </message>
    <message>
        <source>Copy to keep:</source>
        <translation>Zu behaltende Kopie:</translation>
    </message>
    <message>
        <source>Comma separated file extensions, without the dot.</source>
        <translation>Kommagetrennte Dateiendungen, ohne Punkt.</translation>
    </message>
    <message>
        <source>Include extensions:</source>
        <translation>Einbezogene Endungen:</translation>
    </message>
    <message>
        <source>Semicolon separated wildcard patterns to skip.</source>
        <translation>Semikolongetrennte Platzhaltermuster für auszulassende Pfade.</translation>
    </message>
    <message>
        <source>Exclude paths:</source>
        <translation>Ausgeschlossene Pfade:</translation>
    </message>
    <message>
        <source>Ignore files smaller than:</source>
        <translation>Dateien ignorieren kleiner als:</translation>
    </message>
    <message>
        <source>Station idents, stings and beds are short and repetitive; excluding them keeps the results readable.</source>
        <translation>Senderkennungen, Stinger und Musikbetten sind kurz und wiederholen sich; wenn Sie sie ausschließen, bleiben die Ergebnisse übersichtlich.</translation>
    </message>
    <message>
        <source>Ignore audio shorter than:</source>
        <translation>Audio ignorieren kürzer als:</translation>
    </message>
    <message>
        <source>Include &amp;hidden files and folders</source>
        <translation>&amp;Versteckte Dateien und Ordner einbeziehen</translation>
    </message>
    <message>
        <source>Follow symbolic &amp;links and junctions</source>
        <translation>&amp;Symbolischen Links und Verzeichnisverbindungen folgen</translation>
    </message>
    <message>
        <source>Chromaprint fpcalc — fast path active.
%1</source>
        <translation>Chromaprint fpcalc — schneller Pfad aktiv.
%1</translation>
    </message>
    <message>
        <source>Built-in analysis (fallback). Install Chromaprint&apos;s fpcalc, or place it next to the application, for several times faster and more accurate fingerprinting.</source>
        <translation>Eingebaute Analyse (Ausweichlösung). Installieren Sie fpcalc von Chromaprint oder legen Sie es neben das Programm, damit Fingerabdrücke um ein Mehrfaches schneller und genauer berechnet werden.</translation>
    </message>
    <message>
        <source>Fingerprint engine:</source>
        <translation>Fingerabdruck-Verfahren:</translation>
    </message>
    <message>
        <source>Parallel fingerprinting workers. This machine reports %1 cores.</source>
        <translation>Parallele Threads für die Fingerabdruckberechnung. Dieser Rechner meldet %1 Kerne.</translation>
    </message>
    <message>
        <source>Worker threads:</source>
        <translation>Worker-Threads:</translation>
    </message>
    <message>
        <source>How much of each file to analyse. Two minutes is ample for songs; raise it for long-form programmes.</source>
        <translation>Wie viel von jeder Datei analysiert wird. Zwei Minuten reichen für Songs völlig aus; erhöhen Sie den Wert für lange Sendungen.</translation>
    </message>
    <message>
        <source>Audio analysed per file:</source>
        <translation>Analysiertes Audio pro Datei:</translation>
    </message>
    <message>
        <source>R&amp;emember analysis results between scans</source>
        <translation>Analyseergebnisse zwischen Suchläufen &amp;merken</translation>
    </message>
    <message>
        <source>Cache status:</source>
        <translation>Cache-Status:</translation>
    </message>
    <message>
        <source>C&amp;lear cache</source>
        <translation>&amp;Cache leeren</translation>
    </message>
    <message>
        <source>Cache cleared. The next scan will re-analyse everything.</source>
        <translation>Cache geleert. Der nächste Suchlauf analysiert alles neu.</translation>
    </message>
    <message>
        <source>Check for updates when %1 &amp;starts</source>
        <translation>Beim &amp;Start von %1 nach Aktualisierungen suchen</translation>
    </message>
    <message>
        <source>Shared Tessaline suite update service.
Automatic checks run at most once every 20 hours.</source>
        <translation>Gemeinsamer Aktualisierungsdienst der Tessaline-Suite.
Automatische Prüfungen laufen höchstens einmal alle 20 Stunden.</translation>
    </message>
    <message>
        <source>Update service:</source>
        <translation>Aktualisierungsdienst:</translation>
    </message>
    <message>
        <source>Last checked: %1</source>
        <translation>Zuletzt geprüft: %1</translation>
    </message>
    <message>
        <source>Stop skipping &amp;version %1</source>
        <translation>&amp;Version %1 nicht mehr überspringen</translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) cached, using %1.</source>
        <translation>
            <numerusform>%Ln Datei im Cache, belegt %1.</numerusform>
            <numerusform>%Ln Dateien im Cache, belegen %1.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>rvw::UpdateChecker</name>
    <message>
        <source>The update service returned an unreadable response.</source>
        <translation>Der Aktualisierungsdienst hat eine unlesbare Antwort geliefert.</translation>
    </message>
    <message>
        <source>The update service returned HTTP %1.</source>
        <translation>Der Aktualisierungsdienst hat HTTP %1 gemeldet.</translation>
    </message>
    <message>
        <source>The update service did not report a version.</source>
        <translation>Der Aktualisierungsdienst hat keine Version gemeldet.</translation>
    </message>
    <message>
        <source>never</source>
        <translation>nie</translation>
    </message>
</context>
<context>
    <name>rvw::UpdateDialog</name>
    <message>
        <source>Important update</source>
        <translation>Wichtige Aktualisierung</translation>
    </message>
    <message>
        <source>Update available</source>
        <translation>Aktualisierung verfügbar</translation>
    </message>
    <message>
        <source>%1 %2 is available</source>
        <translation>%1 %2 ist verfügbar</translation>
    </message>
    <message>
        <source>%1 %2 is available.</source>
        <translation>%1 %2 ist verfügbar.</translation>
    </message>
    <message>
        <source>You are running version %1.</source>
        <translation>Sie verwenden Version %1.</translation>
    </message>
    <message>
        <source>Released %1.</source>
        <translation>Veröffentlicht am %1.</translation>
    </message>
    <message>
        <source>What&apos;s new:</source>
        <translation>Neuerungen:</translation>
    </message>
    <message>
        <source>Full release notes</source>
        <translation>Vollständige Versionshinweise</translation>
    </message>
    <message>
        <source>&amp;Skip This Version</source>
        <translation>Diese Version ü&amp;berspringen</translation>
    </message>
    <message>
        <source>Remind me &amp;later</source>
        <translation>&amp;Später erinnern</translation>
    </message>
    <message>
        <source>&amp;Download...</source>
        <translation>&amp;Herunterladen...</translation>
    </message>
</context>
<context>
    <name>rvw::vfd::Scrubber</name>
    <message>
        <source>Position</source>
        <translation>Position</translation>
    </message>
</context>
</TS>
