<?xml version='1.0' encoding='utf-8'?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message numerus="yes">
        <source>%1 - %n file(s), interrupted</source>
        <translation><numerusform>%1 - %n file, interrupted</numerusform><numerusform>%1 - %n files, interrupted</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%1 - %n file(s)</source>
        <translation><numerusform>%1 - %n file</numerusform><numerusform>%1 - %n files</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Group %1 - %n copies - %2 reclaimable</source>
        <translation><numerusform>Group %1 - %n copy - %2 reclaimable</numerusform><numerusform>Group %1 - %n copies - %2 reclaimable</numerusform></translation>
    </message>
</context>
<context>
    <name>RemovalFlow</name>
    <message numerus="yes">
        <source>%1 of %n file(s) done</source>
        <translation><numerusform>%1 of %n file done</numerusform><numerusform>%1 of %n files done</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>&lt;b&gt;%n file(s) selected, freeing %1.&lt;/b&gt;</source>
        <translation><numerusform>&lt;b&gt;%n file selected, freeing %1.&lt;/b&gt;</numerusform><numerusform>&lt;b&gt;%n files selected, freeing %1.&lt;/b&gt;</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n of the ticked files are hidden by the filter.</source>
        <translation><numerusform>%n ticked file is hidden by the filter.</numerusform><numerusform>%n of the ticked files are hidden by the filter.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) will be deleted permanently and cannot be recovered.

Are you certain?</source>
        <translation><numerusform>%n file will be deleted permanently and cannot be recovered.

Are you certain?</numerusform><numerusform>%n files will be deleted permanently and cannot be recovered.

Are you certain?</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Removed %n file(s), freeing %1.</source>
        <translation><numerusform>Removed %n file, freeing %1.</numerusform><numerusform>Removed %n files, freeing %1.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Clean-up cancelled: %n file(s) left in place.</source>
        <translation><numerusform>Clean-up cancelled: %n file left in place.</numerusform><numerusform>Clean-up cancelled: %n files left in place.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>

The clean-up was cancelled; %n file(s) were left in place.</source>
        <translation><numerusform>

The clean-up was cancelled; %n file was left in place.</numerusform><numerusform>

The clean-up was cancelled; %n files were left in place.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>

%n file(s) could not be removed - see the Activity Log.</source>
        <translation><numerusform>

%n file could not be removed - see the Activity Log.</numerusform><numerusform>

%n files could not be removed - see the Activity Log.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Restored %n file(s). The others are still in the quarantine; choose this clean-up again to restore them.</source>
        <translation><numerusform>Restored %n file. The others are still in the quarantine; choose this clean-up again to restore them.</numerusform><numerusform>Restored %n files. The others are still in the quarantine; choose this clean-up again to restore them.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Restored %n file(s) to their original locations.</source>
        <translation><numerusform>Restored %n file to their original locations.</numerusform><numerusform>Restored %n files to their original locations.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Restored %n file(s).</source>
        <translation><numerusform>Restored %n file.</numerusform><numerusform>Restored %n files.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) could not be restored. See the Activity Log.</source>
        <translation><numerusform>%n file could not be restored. See the Activity Log.</numerusform><numerusform>%n files could not be restored. See the Activity Log.</numerusform></translation>
    </message>
</context>
<context>
    <name>ravelwick-cli</name>
    <message numerus="yes">
        <source>Not checked: %n folder(s)</source>
        <translation><numerusform>Not checked: %n folder</numerusform><numerusform>Not checked: %n folders</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>, %n file(s)</source>
        <translation><numerusform>, %n file</numerusform><numerusform>, %n files</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Would move %n file(s) into %1, freeing %2.</source>
        <translation><numerusform>Would move %n file into %1, freeing %2.</numerusform><numerusform>Would move %n files into %1, freeing %2.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Moved %n file(s) into %1, freeing %2; </source>
        <translation><numerusform>Moved %n file into %1, freeing %2; </numerusform><numerusform>Moved %n files into %1, freeing %2; </numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Interrupted: %n file(s) were left in place.</source>
        <translation><numerusform>Interrupted: %n file was left in place.</numerusform><numerusform>Interrupted: %n files were left in place.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Restored %n file(s); </source>
        <translation><numerusform>Restored %n file; </numerusform><numerusform>Restored %n files; </numerusform></translation>
    </message>
</context>
<context>
    <name>rvw::MainWindow</name>
    <message numerus="yes">
        <source>%n folder(s)</source>
        <translation><numerusform>%n folder</numerusform><numerusform>%n folders</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation><numerusform>%n file</numerusform><numerusform>%n files</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>The scan was cancelled after finding %n file(s), before they were compared - the results are incomplete.</source>
        <translation><numerusform>The scan was cancelled after finding %n file, before they were compared - the results are incomplete.</numerusform><numerusform>The scan was cancelled after finding %n files, before they were compared - the results are incomplete.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Scanned %n file(s) - no duplicates found.</source>
        <translation><numerusform>Scanned %n file - no duplicates found.</numerusform><numerusform>Scanned %n files - no duplicates found.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) scanned</source>
        <translation><numerusform>%n file scanned</numerusform><numerusform>%n files scanned</numerusform></translation>
    </message>
    <message numerus="yes">
        <source> - %n duplicate group(s)</source>
        <translation><numerusform> - %n duplicate group</numerusform><numerusform> - %n duplicate groups</numerusform></translation>
    </message>
    <message numerus="yes">
        <source> - %n redundant copies (%1).</source>
        <translation><numerusform> - %n redundant copy (%1).</numerusform><numerusform> - %n redundant copies (%1).</numerusform></translation>
    </message>
    <message numerus="yes">
        <source> Currently selected for removal: %n file(s), %1.</source>
        <translation><numerusform> Currently selected for removal: %n file, %1.</numerusform><numerusform> Currently selected for removal: %n files, %1.</numerusform></translation>
    </message>
</context>
<context>
    <name>rvw::ScanController</name>
    <message numerus="yes">
        <source>... and %n more folder(s).</source>
        <translation><numerusform>... and %n more folder.</numerusform><numerusform>... and %n more folders.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) not checked: their names (or their folders' names) are not valid UTF-8 and cannot be opened. Rename them to include them.</source>
        <translation><numerusform>%n file not checked: its name (or its folder's name) is not valid UTF-8 and cannot be opened. Rename it to include it.</numerusform><numerusform>%n files not checked: their names (or their folders' names) are not valid UTF-8 and cannot be opened. Rename them to include them.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Skipped %n device(s), FIFO(s) or socket(s) named like audio files.</source>
        <translation><numerusform>Skipped %n device, FIFO or socket named like audio files.</numerusform><numerusform>Skipped %n devices, FIFOs or sockets named like audio files.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n further name(s) of files already found (hard or symbolic links) were counted once.</source>
        <translation><numerusform>%n further name of a file already found (hard or symbolic link) was counted once.</numerusform><numerusform>%n further names of files already found (hard or symbolic links) were counted once.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Fingerprinting %n file(s)</source>
        <translation><numerusform>Fingerprinting %n file</numerusform><numerusform>Fingerprinting %n files</numerusform></translation>
    </message>
    <message numerus="yes">
        <source> on %n thread(s)</source>
        <translation><numerusform> on %n thread</numerusform><numerusform> on %n threads</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) could not be decoded for fingerprinting. They are still checked by hash and metadata.</source>
        <translation><numerusform>%n file could not be decoded for fingerprinting. It is still checked by hash and metadata.</numerusform><numerusform>%n files could not be decoded for fingerprinting. They are still checked by hash and metadata.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n analysis result(s) could not be stored in the cache (%1); they are analysed again next time.</source>
        <translation><numerusform>%n analysis result could not be stored in the cache (%1); it is analysed again next time.</numerusform><numerusform>%n analysis results could not be stored in the cache (%1); they are analysed again next time.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Skipped %n file(s) shorter than %1 seconds.</source>
        <translation><numerusform>Skipped %n file shorter than %1 seconds.</numerusform><numerusform>Skipped %n files shorter than %1 seconds.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Removed %n cached result(s) of files that no longer exist.</source>
        <translation><numerusform>Removed %n cached result of files that no longer exist.</numerusform><numerusform>Removed %n cached results of files that no longer exist.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Found %n duplicate group(s); %1 could be reclaimed.</source>
        <translation><numerusform>Found %n duplicate group; %1 could be reclaimed.</numerusform><numerusform>Found %n duplicate groups; %1 could be reclaimed.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Analysis cache: %n entries at %1</source>
        <translation><numerusform>Analysis cache: %n entry at %1</numerusform><numerusform>Analysis cache: %n entries at %1</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Fingerprinted %1 of %n file(s)</source>
        <translation><numerusform>Fingerprinted %1 of %n file</numerusform><numerusform>Fingerprinted %1 of %n files</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>%n file(s) found</source>
        <translation><numerusform>%n file found</numerusform><numerusform>%n files found</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Discovered %n audio file(s).</source>
        <translation><numerusform>Discovered %n audio file.</numerusform><numerusform>Discovered %n audio files.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Checked %1 of %n file(s)</source>
        <translation><numerusform>Checked %1 of %n file</numerusform><numerusform>Checked %1 of %n files</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Reused %n cached analysis result(s).</source>
        <translation><numerusform>Reused %n cached analysis result.</numerusform><numerusform>Reused %n cached analysis results.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Hashed %1 of %n grouped file(s)</source>
        <translation><numerusform>Hashed %1 of %n grouped file</numerusform><numerusform>Hashed %1 of %n grouped files</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Analysed %1 of %n file(s)</source>
        <translation><numerusform>Analysed %1 of %n file</numerusform><numerusform>Analysed %1 of %n files</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Hashed %1 of %n file(s)</source>
        <translation><numerusform>Hashed %1 of %n file</numerusform><numerusform>Hashed %1 of %n files</numerusform></translation>
    </message>
</context>
<context>
    <name>rvw::SettingsDialog</name>
    <message numerus="yes">
        <source>%Ln file(s) cached, using %1.</source>
        <translation><numerusform>%Ln file cached, using %1.</numerusform><numerusform>%Ln files cached, using %1.</numerusform></translation>
    </message>
</context>
</TS>