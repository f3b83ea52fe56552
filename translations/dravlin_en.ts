<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Formats</name>
    <message numerus="yes">
        <source>%n local model(s)</source>
        <translation>
            <numerusform>%n local model</numerusform>
            <numerusform>%n local models</numerusform>
        </translation>
    </message>
</context>
</TS>
