<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message>
        <location filename="../dialog.cpp" line="299"/>
        <location filename="../main.cpp" line="177"/>
        <location filename="../main.cpp" line="275"/>
        <source>Print</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="299"/>
        <source>The print dialog cannot open.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../main.cpp" line="177"/>
        <source>Printer:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../modal.cpp" line="65"/>
        <source>Allowed files (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.h" line="28"/>
        <source>Printer Features</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>qthost::GeneralPanel</name>
    <message>
        <location filename="../generalpanel.cpp" line="46"/>
        <source>Default Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="60"/>
        <source>Save As Preset…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="62"/>
        <source>Save as Default</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="65"/>
        <source>Keep these options as your defaults for this queue (lpoptions)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="70"/>
        <source>Pr&amp;esets:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="76"/>
        <source>Co&amp;llated</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="82"/>
        <source>&amp;Copies:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="87"/>
        <source>Pages such as 1-3,5,8-</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="88"/>
        <source>Pa&amp;ges:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="97"/>
        <source>Custom width</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="98"/>
        <source>Custom height</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="101"/>
        <source>Custom Size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="107"/>
        <source> pt</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="114"/>
        <source>Paper &amp;Size:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="123"/>
        <source>&amp;Orientation:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="129"/>
        <source>&amp;Two-Sided:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="180"/>
        <source>Save Preset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="180"/>
        <source>Preset name:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="183"/>
        <source>Preset &quot;%1&quot; saved.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="187"/>
        <source>Saved as your defaults for %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../generalpanel.cpp" line="272"/>
        <source>Conflicting options: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>qthost::PrintDialog</name>
    <message>
        <location filename="../dialog.cpp" line="65"/>
        <location filename="../dialog.cpp" line="116"/>
        <location filename="../dialog.cpp" line="273"/>
        <source>Print</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="70"/>
        <location filename="../dialog.cpp" line="275"/>
        <source>Printer: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="74"/>
        <source>Pa&amp;nel:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="93"/>
        <source>This panel has no view.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="103"/>
        <source>Item</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="103"/>
        <source>Value</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="112"/>
        <location filename="../dialog.cpp" line="278"/>
        <source>Status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="176"/>
        <source>Print job %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="177"/>
        <source>Print job %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="178"/>
        <source>Job %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="178"/>
        <source>Job %1 &quot;%2&quot;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="179"/>
        <source>1 page</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="179"/>
        <source>%1 pages</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="180"/>
        <source>from %1 on %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="181"/>
        <source>from %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="183"/>
        <source>sent %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="190"/>
        <source>Job</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="193"/>
        <source>, </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="219"/>
        <source>The panel &quot;%1&quot; cannot be left now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.cpp" line="276"/>
        <source>Asking %1 for its colour profiles...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../dialog.h" line="27"/>
        <source>Summary</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
