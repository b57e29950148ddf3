<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="cs_CZ">
<context>
    <name>CalibrationRecord</name>
    <message>
        <source>%1: &apos;%2&apos; je mimo rozsah %3 až %4</source>
        <translation>%1: &apos;%2&apos; is outside the range %3 to %4</translation>
    </message>
    <message>
        <source>slovo %1</source>
        <translation>word %1</translation>
    </message>
</context>
<context>
    <name>CommissioningRecord</name>
    <message>
        <source>Protokol o uvedení do provozu</source>
        <translation>Commissioning record</translation>
    </message>
    <message>
        <source>Místo</source>
        <translation>Site</translation>
    </message>
    <message>
        <source>Technik</source>
        <translation>Technician</translation>
    </message>
    <message>
        <source>Datum a čas</source>
        <translation>Date and time</translation>
    </message>
    <message>
        <source>Počítač</source>
        <translation>Computer</translation>
    </message>
    <message>
        <source>Verze programu</source>
        <translation>Program version</translation>
    </message>
    <message>
        <source>Relé</source>
        <translation>Relay</translation>
    </message>
    <message>
        <source>Identifikace</source>
        <translation>Identification</translation>
    </message>
    <message>
        <source>Výrobní číslo</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Teplotní varianta</source>
        <translation>Temperature variant</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>ano</source>
        <translation>yes</translation>
    </message>
    <message>
        <source>ne</source>
        <translation>no</translation>
    </message>
    <message>
        <source>neznámé</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>Hodiny relé</source>
        <translation>Relay clock</translation>
    </message>
    <message>
        <source>Čas relé</source>
        <translation>Relay time</translation>
    </message>
    <message>
        <source>Čas PC</source>
        <translation>PC time</translation>
    </message>
    <message>
        <source>Rozdíl relé - PC</source>
        <translation>Relay - PC difference</translation>
    </message>
    <message>
        <source>Nastavení ochran</source>
        <translation>Protection settings</translation>
    </message>
    <message>
        <source>Profil</source>
        <translation>Profile</translation>
    </message>
    <message>
        <source>Parametr</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>Hodnota</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>% z 230 V</source>
        <translation>% of 230 V</translation>
    </message>
    <message>
        <source>Rozsah profilu</source>
        <translation>Profile range</translation>
    </message>
    <message>
        <source>Výsledek</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>vyhovuje</source>
        <translation>complies</translation>
    </message>
    <message>
        <source>NEVYHOVUJE</source>
        <translation>FAILS</translation>
    </message>
    <message>
        <source>není ve firmwaru</source>
        <translation>not in firmware</translation>
    </message>
    <message>
        <source>jednofázový</source>
        <translation>single-phase</translation>
    </message>
    <message>
        <source>třífázový</source>
        <translation>three-phase</translation>
    </message>
    <message>
        <source>Otisk nastavení (SHA-256 souboru .nx4)</source>
        <translation>Settings fingerprint (SHA-256 of the .nx4 file)</translation>
    </message>
    <message>
        <source>Kalibrace</source>
        <translation>Calibration</translation>
    </message>
    <message>
        <source>Konstanta</source>
        <translation>Constant</translation>
    </message>
    <message>
        <source>Historie událostí (nejnovější první)</source>
        <translation>Event history (newest first)</translation>
    </message>
    <message>
        <source>Poslední událost.</source>
        <translation>Last event.</translation>
    </message>
    <message>
        <source>Poslední %1 události.</source>
        <translation>Last %1 events.</translation>
    </message>
    <message>
        <source>Posledních %1 událostí.</source>
        <translation>Last %1 events.</translation>
    </message>
    <message>
        <source>Žádné události.</source>
        <translation>No events.</translation>
    </message>
    <message>
        <source>Deník změn (posledních 24 hodin)</source>
        <translation>Change journal (last 24 hours)</translation>
    </message>
    <message>
        <source>Čas</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Změna</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>Popis</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Žádné změny.</source>
        <translation>No changes.</translation>
    </message>
    <message>
        <source>Podpisy</source>
        <translation>Signatures</translation>
    </message>
    <message>
        <source>Podpis technika</source>
        <translation>Technician&apos;s signature</translation>
    </message>
    <message>
        <source>Podpis provozovatele</source>
        <translation>Operator&apos;s signature</translation>
    </message>
    <message>
        <source>Datum</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>Výsledek kontroly</source>
        <translation>Check result</translation>
    </message>
    <message>
        <source>jednofázový nebo třífázový</source>
        <translation>single-phase or three-phase</translation>
    </message>
    <message>
        <source>Jméno</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Podpis</source>
        <translation>Signature</translation>
    </message>
    <message>
        <source>Razítko</source>
        <translation>Stamp</translation>
    </message>
    <message>
        <source>Relé NX480, výrobní číslo %1</source>
        <translation>NX480 relay, serial number %1</translation>
    </message>
    <message>
        <source>strana %1 z %2</source>
        <translation>page %1 of %2</translation>
    </message>
    <message>
        <source>bez profilu</source>
        <translation>no profile</translation>
    </message>
    <message>
        <source>Vyhovuje profilu %1</source>
        <translation>Complies with profile %1</translation>
    </message>
    <message>
        <source>Vyhovuje profilu %1 (mimo %2: firmware je nemá)</source>
        <translation>Complies with profile %1 (except %2: not in the firmware)</translation>
    </message>
    <message>
        <source>Nevyhovuje: %1 z %2 kontrolované hodnoty (%3)</source>
        <translation>Does not comply: %1 of %2 checked value (%3)</translation>
    </message>
    <message>
        <source>Nevyhovuje: %1 z %2 kontrolovaných hodnot (%3)</source>
        <translation>Does not comply: %1 of %2 checked values (%3)</translation>
    </message>
    <message>
        <source>Nelze posoudit: relé nemá žádnou hodnotu profilu %1</source>
        <translation>Not assessed: the relay has none of the values of profile %1</translation>
    </message>
    <message>
        <source>Provoz</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>Podpětí 1. stupně U&lt;</source>
        <translation>Undervoltage stage 1 U&lt;</translation>
    </message>
    <message>
        <source>Podpětí 1. stupně U&lt;, zpoždění</source>
        <translation>Undervoltage stage 1 U&lt;, delay</translation>
    </message>
    <message>
        <source>Podpětí 2. stupně U&lt;&lt;</source>
        <translation>Undervoltage stage 2 U&lt;&lt;</translation>
    </message>
    <message>
        <source>Podpětí 2. stupně U&lt;&lt;, zpoždění</source>
        <translation>Undervoltage stage 2 U&lt;&lt;, delay</translation>
    </message>
    <message>
        <source>Nadpětí 1. stupně U&gt; (10min průměr)</source>
        <translation>Overvoltage stage 1 U&gt; (10-min average)</translation>
    </message>
    <message>
        <source>Nadpětí 1. stupně U&gt; (10min průměr), zpoždění</source>
        <translation>Overvoltage stage 1 U&gt; (10-min average), delay</translation>
    </message>
    <message>
        <source>Nadpětí 2. stupně U&gt;&gt;</source>
        <translation>Overvoltage stage 2 U&gt;&gt;</translation>
    </message>
    <message>
        <source>Nadpětí 2. stupně U&gt;&gt;, zpoždění</source>
        <translation>Overvoltage stage 2 U&gt;&gt;, delay</translation>
    </message>
    <message>
        <source>Nadpětí 3. stupně U&gt;&gt;&gt;</source>
        <translation>Overvoltage stage 3 U&gt;&gt;&gt;</translation>
    </message>
    <message>
        <source>Nadpětí 3. stupně U&gt;&gt;&gt;, zpoždění</source>
        <translation>Overvoltage stage 3 U&gt;&gt;&gt;, delay</translation>
    </message>
    <message>
        <source>Podfrekvence 1. stupně f&lt;</source>
        <translation>Underfrequency stage 1 f&lt;</translation>
    </message>
    <message>
        <source>Podfrekvence 1. stupně f&lt;, zpoždění</source>
        <translation>Underfrequency stage 1 f&lt;, delay</translation>
    </message>
    <message>
        <source>Podfrekvence 2. stupně f&lt;&lt;</source>
        <translation>Underfrequency stage 2 f&lt;&lt;</translation>
    </message>
    <message>
        <source>Podfrekvence 2. stupně f&lt;&lt;, zpoždění</source>
        <translation>Underfrequency stage 2 f&lt;&lt;, delay</translation>
    </message>
    <message>
        <source>Nadfrekvence 1. stupně f&gt;</source>
        <translation>Overfrequency stage 1 f&gt;</translation>
    </message>
    <message>
        <source>Nadfrekvence 1. stupně f&gt;, zpoždění</source>
        <translation>Overfrequency stage 1 f&gt;, delay</translation>
    </message>
    <message>
        <source>Nadfrekvence 2. stupně f&gt;&gt;</source>
        <translation>Overfrequency stage 2 f&gt;&gt;</translation>
    </message>
    <message>
        <source>Nadfrekvence 2. stupně f&gt;&gt;, zpoždění</source>
        <translation>Overfrequency stage 2 f&gt;&gt;, delay</translation>
    </message>
    <message>
        <source>Čas znovupřipojení</source>
        <translation>Reconnection time</translation>
    </message>
    <message>
        <source>Záznam na kartu</source>
        <translation>Card logging</translation>
    </message>
    <message>
        <source>Faze</source>
        <translation>Phases</translation>
    </message>
</context>
<context>
    <name>Dialogs</name>
    <message>
        <source>&amp;Ano</source>
        <translation>&amp;Yes</translation>
    </message>
    <message>
        <source>&amp;Ne</source>
        <translation>&amp;No</translation>
    </message>
</context>
<context>
    <name>FileProblem</name>
    <message>
        <source>Soubor nebo složka neexistuje.</source>
        <translation>The file or folder does not exist.</translation>
    </message>
    <message>
        <source>Soubor je chráněn proti zápisu (jen pro čtení).</source>
        <translation>The file is write-protected (read-only).</translation>
    </message>
    <message>
        <source>Do složky nelze zapisovat (chybí oprávnění nebo je disk jen pro čtení).</source>
        <translation>The folder cannot be written to (no permission, or the disk is read-only).</translation>
    </message>
    <message>
        <source>Přístup k souboru byl odepřen.</source>
        <translation>Access to the file was denied.</translation>
    </message>
    <message>
        <source>Zadaná cesta je složka, ne soubor.</source>
        <translation>The path given is a folder, not a file.</translation>
    </message>
    <message>
        <source>Na disku není dost místa.</source>
        <translation>There is not enough space on the disk.</translation>
    </message>
    <message>
        <source>Z roury (FIFO) nikdo nečte.</source>
        <translation>Nothing reads from the pipe (FIFO).</translation>
    </message>
    <message>
        <source>Zadaná cesta není obyčejný soubor.</source>
        <translation>The path given is not a regular file.</translation>
    </message>
    <message>
        <source>Symbolický odkaz nevede k žádnému souboru.</source>
        <translation>The symbolic link leads to no file.</translation>
    </message>
    <message>
        <source>Chyba při práci se souborem.</source>
        <translation>Error while working with the file.</translation>
    </message>
    <message>
        <source>V cestě stojí soubor místo složky.</source>
        <translation>A file stands in the path where a folder must be.</translation>
    </message>
</context>
<context>
    <name>HistoryView</name>
    <message>
        <source>Datum,čas</source>
        <translation>Date,time</translation>
    </message>
    <message>
        <source>Událost</source>
        <translation>Event</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Odpojení</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Připojení</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Nastav. par.</source>
        <translation>Settings set</translation>
    </message>
    <message>
        <source>Nastav.času</source>
        <translation>Clock set</translation>
    </message>
    <message>
        <source>Původní čas</source>
        <translation>Previous time</translation>
    </message>
    <message>
        <source>Kalibrace</source>
        <translation>Calibration</translation>
    </message>
</context>
<context>
    <name>JournalEntryKeeper</name>
    <message>
        <source>není složka pro data</source>
        <translation>there is no data folder</translation>
    </message>
    <message>
        <source>Zálohu nelze uložit: %1. %2</source>
        <translation>Cannot save the backup: %1. %2</translation>
    </message>
    <message>
        <source>Výsledek nelze zapsat do deníku (%1): %2. Deník je neúplný: záznam zůstává nedokončený.</source>
        <translation>Cannot write the result to the journal (%1): %2. The journal is incomplete: the entry stays pending.</translation>
    </message>
</context>
<context>
    <name>JournalText</name>
    <message>
        <source>zápis parametrů ze stránky Parametry</source>
        <translation>settings written from the Parameters page</translation>
    </message>
    <message>
        <source>zápis parametrů příkazem %1</source>
        <translation>settings written by %1</translation>
    </message>
    <message>
        <source>obnova parametrů ze záznamu %1</source>
        <translation>settings restored from journal entry %1</translation>
    </message>
    <message>
        <source>zápis parametrů zpět po uploadu FW bez zálohy</source>
        <translation>settings written back after a firmware upload without a backup</translation>
    </message>
    <message>
        <source>zápis kalibrace ze stránky Kalibrace</source>
        <translation>calibration written from the Calibration page</translation>
    </message>
    <message>
        <source>zápis kalibrace příkazem %1</source>
        <translation>calibration written by %1</translation>
    </message>
    <message>
        <source>obnova kalibrace ze záznamu %1</source>
        <translation>calibration restored from journal entry %1</translation>
    </message>
    <message>
        <source>smazání historie ze stránky Kalibrace</source>
        <translation>event history cleared from the Calibration page</translation>
    </message>
    <message>
        <source>smazání historie příkazem %1</source>
        <translation>event history cleared by %1</translation>
    </message>
    <message>
        <source>nastavení času ze stránky Datum, čas</source>
        <translation>clock set from the Date, time page</translation>
    </message>
    <message>
        <source>nastavení času příkazem %1</source>
        <translation>clock set by %1</translation>
    </message>
    <message>
        <source>výstup relé %1 ze stránky Datum, čas</source>
        <translation>relay output %1 from the Date, time page</translation>
    </message>
    <message>
        <source>výstup relé %1 příkazem %2</source>
        <translation>relay output %1 by %2</translation>
    </message>
    <message>
        <source>výstup relé zpět na Auto při odpojení</source>
        <translation>relay output back to auto as the connection ended</translation>
    </message>
    <message>
        <source>upload FW ze stránky Upload FW</source>
        <translation>firmware uploaded from the Upload FW page</translation>
    </message>
    <message>
        <source>upload FW příkazem %1</source>
        <translation>firmware uploaded by %1</translation>
    </message>
    <message>
        <source>provedeno, zpětně vyčteno shodně</source>
        <translation>done, read back equal</translation>
    </message>
    <message>
        <source>odmítnuto: zařízení drží jinak %1</source>
        <translation>refused: the relay holds %1 otherwise</translation>
    </message>
    <message>
        <source>provedeno, zařízení potvrdilo</source>
        <translation>done, acknowledged by the relay</translation>
    </message>
    <message>
        <source>provedeno: zařízení smazalo historii událostí</source>
        <translation>done: the relay emptied its event history</translation>
    </message>
    <message>
        <source>zařízení odmítlo chybné heslo, nic nesmazáno</source>
        <translation>refused by the relay: wrong code, nothing cleared</translation>
    </message>
    <message>
        <source>zařízení odmítlo (chybová odpověď), nic se nezměnilo</source>
        <translation>refused by the relay (exception reply), nothing changed</translation>
    </message>
    <message>
        <source>neodesláno (%1), zařízení beze změny</source>
        <translation>not sent (%1), the relay unchanged</translation>
    </message>
    <message>
        <source>odesláno bez platného potvrzení (%1): zařízení je mohlo přijmout</source>
        <translation>sent, no valid acknowledgement (%1): the relay may have taken it</translation>
    </message>
    <message>
        <source>odesláno bez platného potvrzení (%1): zařízení může držet vše nebo část</source>
        <translation>sent, no valid acknowledgement (%1): the relay may hold all or part of it</translation>
    </message>
    <message>
        <source>potvrzeno, zpětné čtení selhalo (%1): co zařízení drží, není známo</source>
        <translation>acknowledged, the read-back failed (%1): what the relay holds is not known</translation>
    </message>
    <message>
        <source>neodesláno: nahradila je pozdější volba</source>
        <translation>not sent: a later choice took its place</translation>
    </message>
    <message>
        <source>neodesláno: spojení skončilo dřív</source>
        <translation>not sent: the connection ended first</translation>
    </message>
    <message>
        <source>zastaveno %1 před startem, nic neodesláno</source>
        <translation>stopped %1 before Start, nothing sent</translation>
    </message>
    <message>
        <source>start nepotvrzen (%1), nic dalšího ani Cancel neodesláno: zařízení může čekat v režimu uploadu</source>
        <translation>Start not acknowledged (%1), nothing more sent and no Cancel: the relay may wait in upload mode</translation>
    </message>
    <message>
        <source>zastaveno %1, odesláno bloků: %2/%3</source>
        <translation>stopped %1 after %2 of %3 blocks</translation>
    </message>
    <message>
        <source>blok %1/%2 nepotvrzen (%3)</source>
        <translation>block %1 of %2 not acknowledged (%3)</translation>
    </message>
    <message>
        <source>odesláno bloků: %1, zařízení nehlásilo připravenost (%2)</source>
        <translation>all %1 blocks sent, the relay did not report ready (%2)</translation>
    </message>
    <message>
        <source>zastaveno %1 po všech blocích (%2), před spuštěním</source>
        <translation>stopped %1 after all %2 blocks, before Run</translation>
    </message>
    <message>
        <source>odesláno bloků: %1, Run neodeslán (%2): zařízení čeká v režimu uploadu se starým firmwarem</source>
        <translation>all %1 blocks sent, Run not sent (%2): the relay waits in upload mode with its old firmware</translation>
    </message>
    <message>
        <source>provedeno, odesláno bloků: %1 a Run, zařízení se restartovalo jako %2</source>
        <translation>done, %1 blocks and Run sent, the relay restarted as %2</translation>
    </message>
    <message>
        <source>odesláno bloků: %1 a Run, zařízení se po restartu neohlásilo (%2)</source>
        <translation>%1 blocks and Run sent, the relay did not identify itself after its restart (%2)</translation>
    </message>
    <message>
        <source>odesláno bloků: %1 a Run, čekání na restart zastaveno %2</source>
        <translation>%1 blocks and Run sent, the waiting for its restart stopped %2</translation>
    </message>
    <message>
        <source>ukončeno chybou programu</source>
        <translation>ended by a fault of the tool</translation>
    </message>
    <message>
        <source>Cancel odeslán a potvrzen</source>
        <translation>Cancel sent and acknowledged</translation>
    </message>
    <message>
        <source>Cancel odeslán, nepotvrzen (%1)</source>
        <translation>Cancel sent, not acknowledged (%1)</translation>
    </message>
    <message>
        <source>Cancel odeslán, na odpověď se nečekalo</source>
        <translation>Cancel sent, its answer not awaited</translation>
    </message>
    <message>
        <source>Cancel nešel odeslat (%1)</source>
        <translation>Cancel could not be sent (%1)</translation>
    </message>
    <message>
        <source>%1: %2 -&gt; %3</source>
        <translation>row: %1 %2 -&gt; %3</translation>
    </message>
    <message>
        <source>zařízení drží: %1 %2</source>
        <translation>held: %1 %2</translation>
    </message>
    <message>
        <source>po restartu: %1 %2 -&gt; %3</source>
        <translation>after restart: %1 %2 -&gt; %3</translation>
    </message>
    <message>
        <source>po restartu: parametry beze změny</source>
        <translation>after restart: settings kept</translation>
    </message>
    <message>
        <source>po restartu: parametry nevyčteny</source>
        <translation>after restart: settings not read</translation>
    </message>
    <message>
        <source>soubor: %1, %2 %3, %4 B, bloků: %5</source>
        <translation>image: %1, %2 %3, %4 bytes, %5 blocks</translation>
    </message>
    <message>
        <source>záznamů: %1</source>
        <translation>records: %1</translation>
    </message>
    <message>
        <source>čas zařízení: %1</source>
        <translation>relay time: %1</translation>
    </message>
    <message>
        <source>čas PC: %1</source>
        <translation>pc time: %1</translation>
    </message>
    <message>
        <source>odchylka hodin: %1</source>
        <translation>clock offset: %1</translation>
    </message>
    <message>
        <source>zbývající odchylka: %1</source>
        <translation>remaining offset: %1</translation>
    </message>
    <message>
        <source>zbývající odchylka: neznámá</source>
        <translation>remaining offset: unknown</translation>
    </message>
    <message>
        <source>režim: %1</source>
        <translation>mode: %1</translation>
    </message>
    <message>
        <source>první odeslání: potvrzeno</source>
        <translation>first send: acknowledged</translation>
    </message>
    <message>
        <source>první odeslání: nepotvrzeno</source>
        <translation>first send: not acknowledged</translation>
    </message>
    <message>
        <source>bez chyby</source>
        <translation>no error</translation>
    </message>
    <message>
        <source>žádná odpověď</source>
        <translation>no reply</translation>
    </message>
    <message>
        <source>odpověď chybné délky</source>
        <translation>reply of wrong length</translation>
    </message>
    <message>
        <source>odpověď s chybným CRC</source>
        <translation>reply with bad CRC</translation>
    </message>
    <message>
        <source>odpověď jiné adresy</source>
        <translation>reply from another slave</translation>
    </message>
    <message>
        <source>odpověď jiné funkce</source>
        <translation>reply of another function</translation>
    </message>
    <message>
        <source>odpověď s chybným počtem bajtů</source>
        <translation>reply with a wrong byte count</translation>
    </message>
    <message>
        <source>chybová odpověď</source>
        <translation>exception reply</translation>
    </message>
    <message>
        <source>potvrzení se liší od požadavku</source>
        <translation>acknowledgement differs from request</translation>
    </message>
    <message>
        <source>port zavřen</source>
        <translation>port closed</translation>
    </message>
    <message>
        <source>port obsazen</source>
        <translation>port in use</translation>
    </message>
    <message>
        <source>převodník odpojen</source>
        <translation>device gone</translation>
    </message>
    <message>
        <source>čekání přerušeno</source>
        <translation>wait cut short</translation>
    </message>
    <message>
        <source>tlačítkem Stop</source>
        <translation>by the Stop button</translation>
    </message>
    <message>
        <source>odpojením</source>
        <translation>by disconnecting</translation>
    </message>
    <message>
        <source>zavřením okna Nastavení</source>
        <translation>as the settings window closed</translation>
    </message>
    <message>
        <source>přepnutím stránky</source>
        <translation>by a change of page</translation>
    </message>
    <message>
        <source>ukončením programu</source>
        <translation>as the program closed</translation>
    </message>
    <message>
        <source>klávesami Ctrl-C nebo signálem</source>
        <translation>by Ctrl-C or a signal</translation>
    </message>
    <message>
        <source>koncem spojení</source>
        <translation>as the connection ended</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>auto</translation>
    </message>
    <message>
        <source>On</source>
        <translation>forced on</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>forced off</translation>
    </message>
    <message>
        <source>zpět na Auto</source>
        <translation>back to auto</translation>
    </message>
    <message>
        <source>na On</source>
        <translation>forced on</translation>
    </message>
    <message>
        <source>na Off</source>
        <translation>forced off</translation>
    </message>
    <message>
        <source>slovo %1</source>
        <translation>word %1</translation>
    </message>
    <message>
        <source>Fáze</source>
        <translation>Phases</translation>
    </message>
    <message>
        <source>žádné</source>
        <translation>none</translation>
    </message>
    <message>
        <source>neodesláno: zastaveno před odesláním, zařízení beze změny</source>
        <translation>not sent: stopped before it went out, the relay unchanged</translation>
    </message>
</context>
<context>
    <name>JournalView</name>
    <message>
        <source>Parametry</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Kalibrace</source>
        <translation>Calibration</translation>
    </message>
    <message>
        <source>Datum, čas</source>
        <translation>Date, time</translation>
    </message>
    <message>
        <source>Smazání historie</source>
        <translation>History cleared</translation>
    </message>
    <message>
        <source>Upload FW</source>
        <translation>FW upload</translation>
    </message>
    <message>
        <source>Relé</source>
        <translation>Relay</translation>
    </message>
    <message>
        <source>Čeká</source>
        <translation>Pending</translation>
    </message>
    <message>
        <source>Provedeno</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Odmítnuto</source>
        <translation>Refused</translation>
    </message>
    <message>
        <source>Neznámý</source>
        <translation>Unknown</translation>
    </message>
    <message>
        <source>Neodesláno</source>
        <translation>Not sent</translation>
    </message>
    <message>
        <source>obnova záznamu %1</source>
        <translation>restore of entry %1</translation>
    </message>
    <message>
        <source>při odpojení</source>
        <translation>on disconnect</translation>
    </message>
    <message>
        <source>okno</source>
        <translation>window</translation>
    </message>
    <message>
        <source>po uploadu FW</source>
        <translation>after FW upload</translation>
    </message>
    <message>
        <source>neznámé</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>Záloha má %1 B místo %2 B.</source>
        <translation>The backup has %1 B instead of %2 B.</translation>
    </message>
    <message>
        <source>Firmware neznámý: časy jsou v krocích.</source>
        <translation>Firmware unknown: times are in steps.</translation>
    </message>
    <message>
        <source>třífázový</source>
        <translation>three-phase</translation>
    </message>
    <message>
        <source>jednofázový</source>
        <translation>single-phase</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Složka</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>Čas</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Uživatel</source>
        <translation>User</translation>
    </message>
    <message>
        <source>Počítač</source>
        <translation>Computer</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Identifikace</source>
        <translation>Identification</translation>
    </message>
    <message>
        <source>Výrobní číslo</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>neznámý</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>Změna</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>Popis</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>Výsledek</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>Podrobnosti:</source>
        <translation>Details:</translation>
    </message>
    <message>
        <source>Soubory:</source>
        <translation>Files:</translation>
    </message>
    <message>
        <source>Parametry v záloze %1:</source>
        <translation>Settings in backup %1:</translation>
    </message>
    <message>
        <source>Zálohu nelze přečíst: %1</source>
        <translation>Cannot read the backup: %1</translation>
    </message>
    <message>
        <source>Soubor už není takový, jak byl zapsán.</source>
        <translation>The file is no longer as it was written.</translation>
    </message>
    <message>
        <source>Deník nelze najít (chybí domovská složka)</source>
        <translation>Journal not found (no home folder)</translation>
    </message>
    <message>
        <source>Složku deníku nelze číst</source>
        <translation>Cannot read the journal folder</translation>
    </message>
    <message>
        <source>Žádné záznamy</source>
        <translation>No entries</translation>
    </message>
    <message>
        <source>Poškozený záznam</source>
        <translation>Damaged entry</translation>
    </message>
    <message>
        <source>Po restartu</source>
        <translation>After restart</translation>
    </message>
    <message>
        <source>Po změně</source>
        <translation>After</translation>
    </message>
    <message>
        <source>Požadováno</source>
        <translation>Asked</translation>
    </message>
    <message>
        <source>Parametr</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>Před</source>
        <translation>Before</translation>
    </message>
    <message>
        <source>%1: %2 -&gt; %3</source>
        <translation>%1: %2 -&gt; %3</translation>
    </message>
</context>
<context>
    <name>JournalWindow</name>
    <message>
        <source>Deník změn</source>
        <translation>Change journal</translation>
    </message>
    <message>
        <source>&amp;Všechna zařízení</source>
        <translation>&amp;All devices</translation>
    </message>
    <message>
        <source>Čas</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Zařízení</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Změna</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>Výsledek</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>Popis</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>&amp;Otevřít</source>
        <translation>&amp;Open</translation>
    </message>
    <message>
        <source>O&amp;bnovit</source>
        <translation>Re&amp;store</translation>
    </message>
    <message>
        <source>Z&amp;avři</source>
        <translation>C&amp;lose</translation>
    </message>
    <message>
        <source>Zařízení %1</source>
        <translation>Device %1</translation>
    </message>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Zálohu nelze otevřít:
%1</source>
        <translation>Cannot open the backup:
%1</translation>
    </message>
    <message>
        <source>Obnovit</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>Záznam neuvádí firmware: časy zálohy nelze převést.</source>
        <translation>The entry names no firmware: the backup&apos;s delays cannot be converted.</translation>
    </message>
    <message>
        <source>Časy %1 zálohy nelze nastavit v krocích 1/%2 s.</source>
        <translation>The backup&apos;s delays %1 cannot be set in steps of 1/%2 s.</translation>
    </message>
    <message>
        <source>Záloha historie %1</source>
        <translation>History backup %1</translation>
    </message>
    <message>
        <source>Zařízení nelze vyčíst: nic nebylo zapsáno.</source>
        <translation>The device cannot be read: nothing was written.</translation>
    </message>
    <message>
        <source>Přístroj není připojen</source>
        <translation>Device not connected</translation>
    </message>
    <message>
        <source>Záznam patří zařízení %1, připojeno je zařízení %2.</source>
        <translation>The entry belongs to device %1, device %2 is connected.</translation>
    </message>
    <message>
        <source>Zařízení už drží, co záloha obsahuje.</source>
        <translation>The device already holds what the backup contains.</translation>
    </message>
    <message>
        <source>Obnovení změní:</source>
        <translation>The restore changes:</translation>
    </message>
    <message>
        <source>Zapsat parametry ze záznamu %1?</source>
        <translation>Write the settings of entry %1?</translation>
    </message>
    <message>
        <source>Zapsat kalibraci ze záznamu %1?</source>
        <translation>Write the calibration of entry %1?</translation>
    </message>
    <message>
        <source>Otevřít</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Záloha obsahuje výrobní číslo %1, zařízení má %2.
Zapsat do zařízení i výrobní číslo ze zálohy?</source>
        <translation>The backup holds serial number %1, the device has %2.
Write the backup&apos;s serial number into the device too?</translation>
    </message>
</context>
<context>
    <name>Logo</name>
    <message>
        <source>ochrana sítě</source>
        <translation>mains relay</translation>
    </message>
</context>
<context>
    <name>PageCalibration</name>
    <message>
        <source>Kalibrace U1</source>
        <translation>Calibration U1</translation>
    </message>
    <message>
        <source>Kalibrace U2</source>
        <translation>Calibration U2</translation>
    </message>
    <message>
        <source>Kalibrace U3</source>
        <translation>Calibration U3</translation>
    </message>
    <message>
        <source>Kalibrace Frekv</source>
        <translation>Calibration freq.</translation>
    </message>
    <message>
        <source>Kalibrace</source>
        <translation>Calibration</translation>
    </message>
    <message>
        <source>Sériové číslo</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>&amp;Vyčti</source>
        <translation>&amp;Read</translation>
    </message>
    <message>
        <source>&amp;Zapiš</source>
        <translation>&amp;Write</translation>
    </message>
    <message>
        <source>&amp;Smaž historii</source>
        <translation>&amp;Clear history</translation>
    </message>
    <message>
        <source>Smazat bez zálohy?</source>
        <translation>Clear without a backup?</translation>
    </message>
    <message>
        <source>Zapsat bez zálohy?</source>
        <translation>Write without a backup?</translation>
    </message>
    <message>
        <source>historii nelze zapsat v kódování Windows-1250</source>
        <translation>the history cannot be written in the Windows-1250 encoding</translation>
    </message>
    <message>
        <source>Záloha: %v z %m</source>
        <extracomment>While a clearing reads the event history for its backup: records read of the ring&apos;s size.</extracomment>
        <translation>Backup: %v of %m</translation>
    </message>
</context>
<context>
    <name>PageClock</name>
    <message>
        <source>Datum, čas</source>
        <translation>Date, time</translation>
    </message>
    <message>
        <source>Datum a čas při vyčtení z přístroje nebo zápisu do přístroje</source>
        <translation>Date and time when read from or written to the device</translation>
    </message>
    <message>
        <source>Přístroj:</source>
        <translation>Device:</translation>
    </message>
    <message>
        <source>PC:</source>
        <translation>PC:</translation>
    </message>
    <message>
        <source>Tlačítko Zapiš vloží do přístroje aktuální čas PC bez ohledu na zobrazené údaje</source>
        <translation>The Write button sets the device to the PC&apos;s current time, whatever is shown above</translation>
    </message>
    <message>
        <source>&amp;Vyčti</source>
        <translation>&amp;Read</translation>
    </message>
    <message>
        <source>&amp;Zapiš</source>
        <translation>&amp;Write</translation>
    </message>
    <message>
        <source>Relé</source>
        <translation>Relay</translation>
    </message>
    <message>
        <source>Auto</source>
        <extracomment>The relay output&apos;s modes: automatic, forced on, forced off.</extracomment>
        <translation>Auto</translation>
    </message>
    <message>
        <source>On</source>
        <translation>On</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>Nastavit bez zálohy?</source>
        <translation>Set without a backup?</translation>
    </message>
</context>
<context>
    <name>PageParameters</name>
    <message>
        <source>Nastavení NX480 (*.nx4);;Vše (*.*)</source>
        <translation>NX480 settings (*.nx4);;All (*.*)</translation>
    </message>
    <message>
        <source>Jmenovité napětí      Un[V]</source>
        <translation>Nominal voltage      Un[V]</translation>
    </message>
    <message>
        <source>Podpětí 1. stupeň    U&lt;[V] </source>
        <translation>Undervoltage stage 1    U&lt;[V] </translation>
    </message>
    <message>
        <source>Podpětí 2. stupeň     U&lt;&lt;[V] </source>
        <translation>Undervoltage stage 2     U&lt;&lt;[V] </translation>
    </message>
    <message>
        <source>Nadpětí 1. stupeň U(10min průměr)&gt;[V] </source>
        <translation>Overvoltage stage 1 U(10min avg)&gt;[V] </translation>
    </message>
    <message>
        <source>Nadpětí 2. stupeň    U&gt;&gt;[V] </source>
        <translation>Overvoltage stage 2    U&gt;&gt;[V] </translation>
    </message>
    <message>
        <source>Nadpětí 3. stupeň   U&gt;&gt;&gt;[V] </source>
        <translation>Overvoltage stage 3   U&gt;&gt;&gt;[V] </translation>
    </message>
    <message>
        <source>Podfrekvence 1. stupeň      f&lt;[Hz] </source>
        <translation>Underfrequency stage 1      f&lt;[Hz] </translation>
    </message>
    <message>
        <source>Podfrekvence 2. stupeň    f&lt;&lt;[Hz] </source>
        <translation>Underfrequency stage 2    f&lt;&lt;[Hz] </translation>
    </message>
    <message>
        <source>Nadfrekvence 1. stupeň      f&gt;[Hz] </source>
        <translation>Overfrequency stage 1      f&gt;[Hz] </translation>
    </message>
    <message>
        <source>Nadfrekvence 2. stupeň    f&gt;&gt;[Hz] </source>
        <translation>Overfrequency stage 2    f&gt;&gt;[Hz] </translation>
    </message>
    <message>
        <source>Čas znovupřipojení t[s]</source>
        <translation>Reconnection time t[s]</translation>
    </message>
    <message>
        <source>Provoz</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>jednofáz.</source>
        <translation>1-phase</translation>
    </message>
    <message>
        <source>třífázový</source>
        <translation>3-phase</translation>
    </message>
    <message>
        <source>Záznam na kartu</source>
        <translation>Card logging</translation>
    </message>
    <message>
        <source>&amp;Vyčti</source>
        <translation>&amp;Read</translation>
    </message>
    <message>
        <source>&amp;Zapiš</source>
        <translation>&amp;Write</translation>
    </message>
    <message>
        <source>Soubor</source>
        <translation>File</translation>
    </message>
    <message>
        <source>&amp;Otevři</source>
        <translation>&amp;Open</translation>
    </message>
    <message>
        <source>&amp;Ulož</source>
        <translation>&amp;Save</translation>
    </message>
    <message>
        <source>&amp;Porovnej</source>
        <translation>&amp;Compare</translation>
    </message>
    <message>
        <source>&amp;2 soubory</source>
        <translation>&amp;2 files</translation>
    </message>
    <message>
        <source>Pro&amp;fil</source>
        <translation>Pro&amp;file</translation>
    </message>
    <message>
        <source>Zapsat bez zálohy?</source>
        <translation>Write without a backup?</translation>
    </message>
    <message>
        <source>Soubor nelze uložit</source>
        <translation>Cannot save the file</translation>
    </message>
    <message>
        <source>Soubor nelze otevřít</source>
        <translation>Cannot open the file</translation>
    </message>
    <message>
        <source>Shodné: %1 a %2</source>
        <translation>Identical: %1 and %2</translation>
    </message>
    <message>
        <source>Liší se (%1): %2 | %3
</source>
        <translation>Different (%1): %2 | %3
</translation>
    </message>
    <message>
        <source>Soubor nelze porovnat</source>
        <translation>Cannot compare the file</translation>
    </message>
    <message>
        <source>víc</source>
        <extracomment>Instead of the file&apos;s size in bytes: it is larger than a settings file.</extracomment>
        <translation>more</translation>
    </message>
    <message>
        <source>Soubor nelze porovnat:
%1
Soubor nastavení má %2 bajtů, tento %3.</source>
        <extracomment>%3: the file&apos;s size in bytes, or &quot;víc&quot; (more).</extracomment>
        <translation>Cannot compare the file:
%1
A settings file has %2 bytes, this one %3.</translation>
    </message>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Soubor: %1</source>
        <translation>File: %1</translation>
    </message>
    <message>
        <source>Profil: %1</source>
        <translation>Profile: %1</translation>
    </message>
    <message>
        <source>V profilu: vše v mezích</source>
        <translation>Profile: all within limits</translation>
    </message>
    <message>
        <source>Mimo profil: %1 (%2)</source>
        <translation>Outside profile: %1 (%2)</translation>
    </message>
    <message>
        <source>Shodné se souborem</source>
        <translation>Same as the file</translation>
    </message>
    <message>
        <source>Liší se: %1 (%2)</source>
        <translation>Differs: %1 (%2)</translation>
    </message>
    <message>
        <source>stránka</source>
        <extracomment>The page&apos;s boxes, listed beside a file they are compared with.</extracomment>
        <translation>page</translation>
    </message>
    <message>
        <source>Porovnání</source>
        <translation>Comparison</translation>
    </message>
    <message>
        <source>1hod</source>
        <translation>1h</translation>
    </message>
    <message>
        <source>2hod</source>
        <translation>2h</translation>
    </message>
    <message>
        <source>4hod</source>
        <translation>4h</translation>
    </message>
    <message>
        <source>6hod</source>
        <translation>6h</translation>
    </message>
    <message>
        <source>12hod</source>
        <translation>12h</translation>
    </message>
    <message>
        <source>24hod</source>
        <translation>24h</translation>
    </message>
    <message>
        <source>%1: %2, soubor: %3</source>
        <extracomment>A word the page does not show, against the compared file: &quot;slovo 20: 0x0005, soubor: 0x0104&quot;.</extracomment>
        <translation>%1: %2, file: %3</translation>
    </message>
    <message>
        <source>Záloha FW %1: časy po 1/%2 s</source>
        <extracomment>The status line after the journal window&apos;s &quot;Otevřít&quot;: the firmware the backup was made under (%1), its delay steps (%2 per second) and the page&apos;s (%3 per second).</extracomment>
        <translation>Backup FW %1: delays 1/%2 s</translation>
    </message>
    <message>
        <source>Záloha FW %1: časy 1/%2 s → 1/%3 s</source>
        <translation>Backup FW %1: delays 1/%2 s → 1/%3 s</translation>
    </message>
</context>
<context>
    <name>PageUpload</name>
    <message>
        <source>...Soubor namá správnou délku</source>
        <extracomment>The Czech text is misspelt on purpose; translate it as if it were not.</extracomment>
        <translation>...The file has the wrong length</translation>
    </message>
    <message>
        <source>...Soubor neobsahuje korektní data</source>
        <translation>...The file does not contain valid data</translation>
    </message>
    <message>
        <source>...Start přenosu</source>
        <translation>...Transfer started</translation>
    </message>
    <message>
        <source>...Přístroj není připojen</source>
        <translation>...Device not connected</translation>
    </message>
    <message>
        <source>...Přerušeno</source>
        <translation>...Stopped</translation>
    </message>
    <message>
        <source>...Nedokončeno - chyba komuniíkace</source>
        <extracomment>The Czech text is misspelt on purpose; translate it as if it were not.</extracomment>
        <translation>...Not completed - communication error</translation>
    </message>
    <message>
        <source>...Úspěšně dokončeno</source>
        <translation>...Completed successfully</translation>
    </message>
    <message>
        <source>...Čekám na restart přístroje</source>
        <translation>...Waiting for the device to restart</translation>
    </message>
    <message>
        <source>...Čekání přerušeno</source>
        <translation>...Waiting stopped</translation>
    </message>
    <message>
        <source>Nová verze:         %1</source>
        <translation>New version:      %1</translation>
    </message>
    <message>
        <source>nezjištěna - přístroj po restartu neodpovídá</source>
        <extracomment>The new version: not found out, the relay does not answer after its restart.</extracomment>
        <translation>unknown - no answer after the restart</translation>
    </message>
    <message>
        <source>nezjištěna</source>
        <extracomment>The new version (verze): not found out.</extracomment>
        <translation>unknown</translation>
    </message>
    <message>
        <source>...Nenahráno, bez zálohy</source>
        <translation>...Not uploaded, no backup</translation>
    </message>
    <message>
        <source>...Nový firmware změnil parametry: %1</source>
        <translation>...The new firmware changed parameters: %1</translation>
    </message>
    <message>
        <source>...Parametry po restartu nevyčteny</source>
        <translation>...Parameters not read after the restart</translation>
    </message>
    <message>
        <source>Nový firmware změnil parametry: %1. Zapsat uložené parametry zpět?</source>
        <translation>The new firmware changed parameters: %1. Write the saved parameters back?</translation>
    </message>
    <message>
        <source>&amp;Upload</source>
        <translation>&amp;Upload</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>&amp;Stop</translation>
    </message>
    <message>
        <source>Programové soubory (*.bn6);;Vše (*.*)</source>
        <translation>Firmware files (*.bn6);;All (*.*)</translation>
    </message>
    <message>
        <source>Současná verze: %1</source>
        <translation>Current version: %1</translation>
    </message>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Soubor nejde otevřít</source>
        <translation>Cannot open the file</translation>
    </message>
    <message>
        <source>Soubor: %1</source>
        <translation>File: %1</translation>
    </message>
    <message>
        <source>Aplikace: %1</source>
        <translation>Application: %1</translation>
    </message>
    <message>
        <source>Verze: %1</source>
        <translation>Version: %1</translation>
    </message>
    <message>
        <source>Časy %1 zálohy nelze nastavit v krocích 1/%2 s.</source>
        <translation>The backup&apos;s delays %1 cannot be set in steps of 1/%2 s.</translation>
    </message>
    <message>
        <source>Nahrát bez zálohy?</source>
        <translation>Upload without a backup?</translation>
    </message>
</context>
<context>
    <name>ProfileFile</name>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Profil sítě (*.txt);;Vše (*)</source>
        <translation>Grid profile (*.txt);;All (*)</translation>
    </message>
    <message>
        <source>Profil nelze otevřít</source>
        <translation>Cannot open the profile</translation>
    </message>
    <message>
        <source>Chybný profil, nic nezkontrolováno:
%1</source>
        <translation>Invalid profile, nothing checked:
%1</translation>
    </message>
    <message>
        <source>
větší než %1 bajtů</source>
        <translation>
larger than %1 bytes</translation>
    </message>
    <message>
        <source>…a %1 další</source>
        <extracomment>After the first errors of a profile: how many more it has (%1, 1 and up).</extracomment>
        <translation>…and %1 more</translation>
    </message>
    <message>
        <source>…a %1 dalších</source>
        <translation>…and %1 more</translation>
    </message>
</context>
<context>
    <name>RecordForm</name>
    <message>
        <source>hodiny</source>
        <translation>clock</translation>
    </message>
    <message>
        <source>parametry</source>
        <translation>parameters</translation>
    </message>
    <message>
        <source>kalibrace</source>
        <translation>calibration</translation>
    </message>
    <message>
        <source>historie</source>
        <translation>history</translation>
    </message>
    <message>
        <source>Protokol PDF (*.pdf);;Vše (*.*)</source>
        <translation>Record PDF (*.pdf);;All (*.*)</translation>
    </message>
    <message>
        <source>Protokol</source>
        <translation>Commissioning record</translation>
    </message>
    <message>
        <source>bez profilu</source>
        <translation>no profile</translation>
    </message>
    <message>
        <source>&amp;Místo</source>
        <translation>&amp;Site</translation>
    </message>
    <message>
        <source>&amp;Technik</source>
        <translation>&amp;Technician</translation>
    </message>
    <message>
        <source>&amp;Profil</source>
        <translation>&amp;Profile</translation>
    </message>
    <message>
        <source>Vy&amp;brat</source>
        <translation>&amp;Browse</translation>
    </message>
    <message>
        <source>&amp;Vytvořit</source>
        <translation>&amp;Create</translation>
    </message>
    <message>
        <source>Z&amp;avři</source>
        <translation>C&amp;lose</translation>
    </message>
    <message>
        <source>Protokol nevytvořen</source>
        <translation>Record not created</translation>
    </message>
    <message>
        <source>Protokol nevytvořen: spojení ukončeno</source>
        <translation>Record not created: connection closed</translation>
    </message>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Profil %1 nenalezen:%2</source>
        <translation>Profile %1 not found:%2</translation>
    </message>
    <message>
        <source>Přístroj není připojen</source>
        <translation>Device not connected</translation>
    </message>
    <message>
        <source>Čtení z přístroje...</source>
        <translation>Reading from the device...</translation>
    </message>
    <message>
        <source>Protokol nevytvořen: chyba komunikace (%1)</source>
        <translation>Record not created: communication error (%1)</translation>
    </message>
    <message>
        <source>Protokol nelze uložit</source>
        <translation>Cannot save the record</translation>
    </message>
    <message>
        <source>Uloženo: %1</source>
        <translation>Saved: %1</translation>
    </message>
    <message>
        <source>Místo a technika nelze uložit</source>
        <translation>Site and technician cannot be saved</translation>
    </message>
    <message>
        <source>Uloženo: %1 – nevyhovuje: %2</source>
        <translation>Saved: %1 – fails: %2</translation>
    </message>
    <message>
        <source>Uloženo: %1 – vyhovuje profilu</source>
        <translation>Saved: %1 – complies with the profile</translation>
    </message>
    <message>
        <source>Uloženo: %1 – nelze posoudit</source>
        <translation>Saved: %1 – not assessed</translation>
    </message>
</context>
<context>
    <name>Recording</name>
    <message>
        <source>Záznam zastaven: disk je plný</source>
        <translation>Recording stopped: disk full</translation>
    </message>
    <message>
        <source>Záznam zastaven: nelze zapisovat</source>
        <translation>Recording stopped: cannot write</translation>
    </message>
    <message>
        <source>Záznam zastaven: chyba zápisu</source>
        <translation>Recording stopped: write error</translation>
    </message>
</context>
<context>
    <name>SettingsCompare</name>
    <message>
        <source>třífázový</source>
        <translation>three-phase</translation>
    </message>
    <message>
        <source>jednofáz.</source>
        <translation>single-ph.</translation>
    </message>
    <message>
        <source>slovo %1</source>
        <translation>word %1</translation>
    </message>
</context>
<context>
    <name>SettingsRecord</name>
    <message>
        <source>Nastavení</source>
        <translation>Settings</translation>
    </message>
</context>
<context>
    <name>TFormHistory</name>
    <message>
        <source>Neplatná velikost historie</source>
        <translation>Invalid history size</translation>
    </message>
    <message>
        <source>Neplatný ukazatel historie</source>
        <translation>Invalid history pointer</translation>
    </message>
    <message>
        <source>Načtení neúplné</source>
        <translation>Reading incomplete</translation>
    </message>
    <message>
        <source>Historie</source>
        <translation>History</translation>
    </message>
    <message>
        <source>Z&amp;avři</source>
        <translation>C&amp;lose</translation>
    </message>
    <message>
        <source>&amp;Ulož</source>
        <translation>&amp;Save</translation>
    </message>
    <message>
        <source>Načítám</source>
        <translation>Reading</translation>
    </message>
    <message>
        <source>Historie nebyla načtena celá. Uložit přesto neúplnou tabulku?</source>
        <translation>The history was not read completely. Save the incomplete table anyway?</translation>
    </message>
    <message>
        <source>Formátovaný text (*.csv);;Vše (*.*)</source>
        <translation>CSV text (*.csv);;All (*.*)</translation>
    </message>
    <message>
        <source>Tabulka obsahuje znak, který nelze zapsat v kódování Windows-1250.</source>
        <translation>The table contains a character that cannot be written in the Windows-1250 encoding.</translation>
    </message>
    <message>
        <source>Řádek %1 obsahuje znak „%2“ (U+%3), který nelze zapsat v kódování Windows-1250.</source>
        <translation>Row %1 contains the character “%2” (U+%3), which cannot be written in the Windows-1250 encoding.</translation>
    </message>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Soubor nelze vytvořit!
%1
%2</source>
        <translation>Cannot create the file!
%1
%2</translation>
    </message>
</context>
<context>
    <name>TFormMain</name>
    <message>
        <source>Zařízení není připojeno nebo nekomunikuje</source>
        <translation>Device not connected or not responding</translation>
    </message>
    <message>
        <source>
Port %1 je obsazen jiným programem; ukončete jej a zkuste to znovu.</source>
        <translation>
Port %1 is in use by another program; close that program and try again.</translation>
    </message>
    <message>
        <source>
Port %1 je přístupný jen správci systému, ne běžným uživatelům. Zpřístupněte jej pravidlem udev, např. soubor /etc/udev/rules.d/50-nx480.rules s řádkem
KERNEL==&quot;%2&quot;, GROUP=&quot;dialout&quot;, MODE=&quot;0660&quot;
a přidejte uživatele do skupiny „dialout“ (sudo adduser $USER dialout, pak se znovu přihlaste).</source>
        <extracomment>The udev rule&apos;s line and the commands stay as they are; %2 is the device&apos;s name.</extracomment>
        <translation>
Port %1 is accessible to the system administrator only, not to ordinary users. Make it accessible with a udev rule, e.g. the file /etc/udev/rules.d/50-nx480.rules with the line
KERNEL==&quot;%2&quot;, GROUP=&quot;dialout&quot;, MODE=&quot;0660&quot;
and add the user to the group “dialout” (sudo adduser $USER dialout, then log in again).</translation>
    </message>
    <message>
        <source>
Přístup k portu %1 byl odepřen: uživatel musí být ve skupině „%2“ (sudo adduser $USER %2, pak se znovu přihlaste).</source>
        <extracomment>%2 is the device&apos;s group; the command stays as it is.</extracomment>
        <translation>
Access to port %1 was denied: the user must be in the group “%2” (sudo adduser $USER %2, then log in again).</translation>
    </message>
    <message>
        <source>
Přístup k portu %1 byl odepřen.</source>
        <translation>
Access to port %1 was denied.</translation>
    </message>
    <message>
        <source>Spojení s přístrojem bylo přerušeno: zařízení %1 bylo odpojeno.
Po jeho opětovném připojení stiskněte F1.</source>
        <translation>The connection to the device was lost: %1 was unplugged.
Plug it in again and press F1.</translation>
    </message>
    <message>
        <source>Verze zařízení</source>
        <translation>Device version</translation>
    </message>
    <message>
        <source>&amp;Připojit F1</source>
        <translation>&amp;Connect F1</translation>
    </message>
    <message>
        <source>&amp;Nastavení</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>&amp;Historie</source>
        <translation>&amp;History</translation>
    </message>
    <message>
        <source>&amp;Konec</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>&amp;Deník</source>
        <translation>&amp;Journal</translation>
    </message>
    <message>
        <source>P&amp;rotokol</source>
        <translation>&amp;Record</translation>
    </message>
    <message>
        <source>Relé vnuceno: On</source>
        <translation>Relay forced: On</translation>
    </message>
    <message>
        <source>Relé vnuceno: Off</source>
        <translation>Relay forced: Off</translation>
    </message>
    <message>
        <source>Při&amp;pojit F1</source>
        <translation>&amp;Connect F1</translation>
    </message>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Od&amp;pojit F1</source>
        <translation>Dis&amp;connect F1</translation>
    </message>
    <message>
        <source>přístroj NX480 neodpověděl</source>
        <translation>no NX480 answered</translation>
    </message>
    <message>
        <source>odpověděl jiný přístroj („%1“)</source>
        <extracomment>%1 is the identification the device sent.</extracomment>
        <translation>another device answered (“%1”)</translation>
    </message>
    <message>
        <source>zařízení neexistuje</source>
        <translation>no such device</translation>
    </message>
    <message>
        <source>přístup odepřen</source>
        <translation>permission denied</translation>
    </message>
    <message>
        <source>obsazen jiným programem</source>
        <translation>held by another program</translation>
    </message>
    <message>
        <source>není sériový port</source>
        <translation>not a serial device</translation>
    </message>
    <message>
        <source>nelze otevřít</source>
        <translation>it cannot be opened</translation>
    </message>
    <message>
        <source>Nebyl nalezen žádný sériový port.</source>
        <translation>No serial port was found.</translation>
    </message>
    <message>
        <source>%1 a další (%2)</source>
        <extracomment>%1 ports named before it, %2 how many more are left unnamed.</extracomment>
        <translation>%1 and %2 more</translation>
    </message>
    <message>
        <source>Zkoušené porty: %1</source>
        <extracomment>%1 lists the ports, each with why it was passed over.</extracomment>
        <translation>Ports tried: %1</translation>
    </message>
    <message>
        <source>Ukázkové relé</source>
        <translation>Demo relay</translation>
    </message>
</context>
<context>
    <name>TFormOnLine</name>
    <message>
        <source>Aktuální hodnoty</source>
        <translation>Live values</translation>
    </message>
    <message>
        <source>Stav ochrany</source>
        <translation>Protection status</translation>
    </message>
    <message>
        <source>Teplota[°C]</source>
        <translation>Temp.[°C]</translation>
    </message>
    <message>
        <source>10minutové průměry</source>
        <translation>10-minute averages</translation>
    </message>
    <message>
        <source>&amp;Průběh</source>
        <translation>&amp;Trend</translation>
    </message>
    <message>
        <source>Chybný recording.conf, limit %1 MB</source>
        <translation>Invalid recording.conf, limit %1 MB</translation>
    </message>
    <message>
        <source>Limit záznamu: smazáno dnů: %1</source>
        <translation>Recording cap: days removed: %1</translation>
    </message>
</context>
<context>
    <name>TFormSetup</name>
    <message>
        <source>Nastavení</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Z&amp;avři</source>
        <translation>C&amp;lose</translation>
    </message>
    <message>
        <source>Parametry</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>Datum, čas</source>
        <translation>Date, time</translation>
    </message>
    <message>
        <source>Kalibrace</source>
        <translation>Calibration</translation>
    </message>
    <message>
        <source>Upload FW</source>
        <translation>Upload FW</translation>
    </message>
    <message>
        <source>Uloženo jinak: %1</source>
        <extracomment>The status line after a write read back otherwise; %1 lists the relay&apos;s parameter names.</extracomment>
        <translation>Stored differently: %1</translation>
    </message>
    <message>
        <source>O.K.</source>
        <translation>O.K.</translation>
    </message>
    <message>
        <source>Chyba komunikace!</source>
        <translation>Communication error!</translation>
    </message>
    <message>
        <source>Chybné heslo</source>
        <translation>Wrong password</translation>
    </message>
    <message>
        <source>Přístroj není připojen</source>
        <translation>Device not connected</translation>
    </message>
    <message>
        <source>Nezapsáno, bez zálohy</source>
        <translation>Not written, no backup</translation>
    </message>
    <message>
        <source>Nenastaveno, bez zálohy</source>
        <translation>Not set, no backup</translation>
    </message>
    <message>
        <source>Nesmazáno, bez zálohy</source>
        <translation>Not cleared, no backup</translation>
    </message>
    <message>
        <source>Odesláno, výsledek neznámý</source>
        <translation>Sent, result unknown</translation>
    </message>
    <message>
        <source>Uloženo jinak</source>
        <translation>Stored differently</translation>
    </message>
</context>
<context>
    <name>TFormTrend</name>
    <message>
        <source>Průběh</source>
        <translation>Trend</translation>
    </message>
    <message>
        <source>&amp;10 min</source>
        <translation>&amp;10 min</translation>
    </message>
    <message>
        <source>&amp;hodina</source>
        <translation>&amp;hour</translation>
    </message>
    <message>
        <source>&amp;den</source>
        <translation>&amp;day</translation>
    </message>
    <message>
        <source>&amp;Soubor…</source>
        <translation>&amp;File…</translation>
    </message>
    <message>
        <source>Kolečko, +/-: zvětšení; šipky, tažení: posun</source>
        <translation>Wheel, +/-: zoom; arrows, drag: pan</translation>
    </message>
    <message>
        <source>Čas</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Stupeň</source>
        <translation>Stage</translation>
    </message>
    <message>
        <source>Náběh → vypnutí</source>
        <translation>Pick-up → trip</translation>
    </message>
    <message>
        <source>Záznam (*.csv);;Vše (*)</source>
        <translation>Recording (*.csv);;All (*)</translation>
    </message>
    <message>
        <source>Soubor nelze číst</source>
        <translation>Cannot read the file</translation>
    </message>
    <message>
        <source>%1 s (%2–%3 s)</source>
        <extracomment>from pick-up to trip: as seen (lowest–highest possible)</extracomment>
        <translation>%1 s (%2–%3 s)</translation>
    </message>
    <message>
        <source>%1 s (%2 s a víc)</source>
        <translation>%1 s (%2 s or more)</translation>
    </message>
    <message>
        <source>Vypnutí: %1</source>
        <translation>Trips: %1</translation>
    </message>
    <message>
        <source>Vypnutí: %1, vzorky po %2 s (náběh a vypnutí jsou známy jen s touto přesností)</source>
        <translation>Trips: %1, samples every %2 s (pick-up and trip are known only to this precision)</translation>
    </message>
    <message>
        <source>Žádný záznam</source>
        <translation>Nothing recorded</translation>
    </message>
    <message>
        <source>Vynecháno řádků: %1</source>
        <translation>Lines skipped: %1</translation>
    </message>
    <message>
        <source>Bez nastavení relé: prahy nejsou</source>
        <translation>No relay settings: no thresholds</translation>
    </message>
    <message>
        <source>Relé %1</source>
        <translation>Relay %1</translation>
    </message>
    <message>
        <source>%1, poslední 10 minut</source>
        <translation>%1, last 10 minutes</translation>
    </message>
    <message>
        <source>%1, poslední hodina</source>
        <translation>%1, last hour</translation>
    </message>
    <message>
        <source>%1, poslední den</source>
        <translation>%1, last day</translation>
    </message>
    <message>
        <source>%1, %2 – %3</source>
        <extracomment>the source, the time shown from and to</extracomment>
        <translation>%1, %2 – %3</translation>
    </message>
    <message>
        <source>Načítám %1… %2 %</source>
        <extracomment>a file being read: its name, how far</extracomment>
        <translation>Reading %1… %2 %</translation>
    </message>
    <message>
        <source>Soubor je příliš velký: %1 MB (záznam dne mívá do 50 MB)</source>
        <translation>File too large: %1 MB (a day&apos;s recording takes up to 50 MB)</translation>
    </message>
    <message>
        <source>Hodiny PC vráceny zpět: %1×</source>
        <translation>PC clock set back: %1×</translation>
    </message>
</context>
</TS>
