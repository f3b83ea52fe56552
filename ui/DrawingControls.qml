import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Dialogs
import QtQuick.Layouts
import Dravlin

// Model, payment, prompt, reference image, Draw/Stop and the example prompts.
ColumnLayout {
    id: controls

    required property ContentController content
    readonly property DrawSession session: content.session
    readonly property DravlinAccount account: content.account
    property alias prompt: field.text
    readonly property bool promptFocused: field.activeFocus

    // Where typing goes: a new window, a closed sheet or panel, and the end of a run put it here.
    function focusPrompt() {
        if (field.visible && field.enabled)
            field.forceActiveFocus()
    }
    // While a run goes on the prompt field is off; the keyboard is at Stop instead.
    function focusStop() {
        stopButton.forceActiveFocus(Qt.TabFocusReason)
    }

    spacing: 10

    ModelPicker {
        objectName: "picker"
        content: controls.content
        Layout.fillWidth: true
    }

    // Paying for a cloud drawing.
    ColumnLayout {
        visible: controls.content.showPayment
        spacing: 6
        Layout.fillWidth: true

        RowLayout {
            spacing: 8
            SegmentedControl {
                id: segments
                name: qsTr("Pay with")
                enabled: !controls.session.running
                value: controls.session.payWith
                options: [{ value: "credits", text: qsTr("Dravlin Credit") },
                    { value: "key", text: qsTr("My OpenRouter key") }]
                onChosen: choice => controls.session.payWith = choice
            }
            Label {
                textFormat: Text.PlainText
                visible: text !== ""
                text: controls.content.balanceText
                color: Theme.secondary
                font.pixelSize: Theme.caption2
                Accessible.name: qsTr("Balance %1").arg(text)
            }
        }
        Label {
            textFormat: Text.PlainText
            visible: controls.content.showKeyWarning
            text: qsTr("No key saved — add one from the ⋯ menu, or use Dravlin Credit.")
            color: Theme.orange
            font.pixelSize: Theme.caption2
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }

    // The prompt: Return draws.
    Rectangle {
        Layout.fillWidth: true
        implicitHeight: field.implicitHeight
        radius: 7
        color: Theme.white(field.activeFocus ? 0.13 : 0.1)
        border.width: field.activeFocus ? 1 : 0
        border.color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.6)
        opacity: field.enabled ? 1 : 0.6

        Text {
            textFormat: Text.PlainText
            visible: field.text === ""
            anchors.verticalCenter: parent.verticalCenter
            leftPadding: 10
            text: qsTr("What should it draw?")
            color: Theme.white(0.55)
            font.family: Theme.fontFamily
            font.pixelSize: Theme.body
        }
        TextField {
            id: field
            objectName: "prompt"
            anchors.left: parent.left
            anchors.right: parent.right
            enabled: !controls.session.running
            leftPadding: 10
            rightPadding: 10
            topPadding: 7
            bottomPadding: 7
            background: null
            color: Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: Theme.body
            selectionColor: Theme.accent
            selectedTextColor: Theme.text
            cursorDelegate: Rectangle {
                width: 1.5
                color: Theme.accent
                visible: field.cursorVisible
            }
            onAccepted: controls.session.start(text)
            // A picture on the clipboard becomes the reference image; anything else pastes as text.
            Keys.onPressed: (event) => {
                if (event.matches(StandardKey.Paste) && controls.content.pasteImage())
                    event.accepted = true
            }
            TapHandler {
                acceptedButtons: Qt.RightButton
                onTapped: (point) => fieldEditMenu.openAt(point.position)
            }
            EditMenu {
                id: fieldEditMenu
                objectName: "promptEditMenu"
                target: field
            }
            Accessible.name: qsTr("Prompt")
            Accessible.description: qsTr("What should it draw?")
        }
    }

    // A reference image to recreate, for models that see images.
    Rectangle {
        visible: controls.session.catalog.selectedIsVision && controls.session.reference.attached
        Layout.fillWidth: true
        implicitHeight: 52
        radius: 8
        color: Theme.white(0.06)

        RowLayout {
            anchors.fill: parent
            anchors.margins: 6
            spacing: 8
            Item {
                Layout.preferredWidth: 40
                Layout.preferredHeight: 40
                clip: true
                Image {
                    anchors.fill: parent
                    source: controls.session.reference.source
                    fillMode: Image.PreserveAspectCrop
                    sourceSize.width: 80
                    sourceSize.height: 80
                    asynchronous: true
                    smooth: true
                }
                // Rounds the thumbnail's corners into the row's own colour.
                Rectangle {
                    anchors.fill: parent
                    anchors.margins: -3
                    radius: 9
                    color: "transparent"
                    border.width: 3
                    border.color: Qt.tint(Theme.sidebarBG, Theme.white(0.06))
                }
                Accessible.role: Accessible.Graphic
                Accessible.name: qsTr("Reference image")
            }
            Label {
                textFormat: Text.PlainText
                text: qsTr("Recreate this image")
                color: Theme.secondary
                font.pixelSize: Theme.caption
                Layout.fillWidth: true
            }
            AbstractButton {
                id: clearImage
                ToolTip.visible: clearImage.hovered
                ToolTip.delay: 500
                ToolTip.text: qsTr("Remove the reference image")
                FocusRing {
                    shown: clearImage.visualFocus
                    radius: width / 2 + 2
                }
                implicitWidth: 22
                implicitHeight: 22
                enabled: !controls.session.running
                contentItem: Item {
                    SymbolIcon {
                        anchors.centerIn: parent
                        symbol: "xmark.circle.fill"
                        size: 16
                        color: Theme.white(clearImage.hovered ? 0.6 : 0.4)
                    }
                }
                hoverEnabled: true
                onClicked: controls.session.reference.clear()
                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Remove reference image")
                Accessible.onPressAction: if (enabled) clearImage.clicked()
            }
        }
    }
    AbstractButton {
        id: addImage
        visible: controls.session.catalog.selectedIsVision && !controls.session.reference.attached
        enabled: !controls.session.running
        Layout.fillWidth: true
        topPadding: 8
        bottomPadding: 8
        hoverEnabled: true
        contentItem: Row {
            spacing: 6
            leftPadding: (addImage.availableWidth - implicitWidth) / 2
            SymbolIcon {
                anchors.verticalCenter: parent.verticalCenter
                symbol: "photo.badge.plus"
                size: 14
                color: Theme.secondary
            }
            Text {
                textFormat: Text.PlainText
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("Add a reference image")
                color: Theme.secondary
                font.family: Theme.fontFamily
                font.pixelSize: Theme.caption
            }
        }
        background: Canvas {
            id: dashed
            property color fill: Theme.white(addImage.hovered ? 0.08 : 0.05)
            onFillChanged: requestPaint()
            onWidthChanged: requestPaint()
            onHeightChanged: requestPaint()
            onPaint: {
                const ctx = getContext("2d")
                ctx.reset()
                ctx.beginPath()
                ctx.roundedRect(0.5, 0.5, width - 1, height - 1, 8, 8)
                ctx.fillStyle = fill
                ctx.fill()
                ctx.setLineDash([4, 4])
                ctx.lineWidth = 1
                ctx.strokeStyle = Theme.white(0.12)
                ctx.stroke()
            }
        }
        opacity: enabled ? 1 : 0.5
        onClicked: imageDialog.open()
        Accessible.role: Accessible.Button
        Accessible.name: qsTr("Add a reference image")
        Accessible.onPressAction: if (enabled) addImage.clicked()
    }
    Label {
        textFormat: Text.PlainText
        visible: controls.session.catalog.selectedIsVision && text !== ""
        text: controls.session.reference.error
        color: Theme.red
        font.pixelSize: Theme.caption2
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    // Made on first use: the dialog is a sizeable component, and most windows never open it.
    Loader {
        id: imageDialog
        active: false
        function open() {
            active = true
            item.open() // qmllint disable
            // Qt's own dialog, where the desktop has none, takes the window's colours.
            DialogLook.fitWhenShown(controls)
        }
        sourceComponent: FileDialog {
            objectName: "referenceDialog"
            title: qsTr("Choose a reference image")
            fileMode: FileDialog.OpenFile
            acceptLabel: qsTr("Choose")
            nameFilters: [qsTr("Images (%1)").arg("*.png *.jpg *.jpeg *.gif *.webp *.PNG *.JPG *.JPEG *.GIF *.WEBP")]
            onAccepted: controls.content.pickImage(selectedFile)
        }
    }

    // Draw, or Stop with how long it has been going.
    RowLayout {
        Layout.fillWidth: true
        spacing: 8

        DButton {
            visible: !controls.session.running
            kind: "prominent"
            small: false
            text: qsTr("Draw")
            font.pixelSize: Theme.body
            font.weight: Font.DemiBold
            enabled: Formats.drawEnabled(controls.prompt, controls.session.catalog.selectedModel)
            onClicked: controls.session.start(controls.prompt)
        }
        RowLayout {
            visible: controls.session.running
            spacing: 4
            DButton {
                id: stopButton
                objectName: "stop"
                kind: "bordered"
                small: false
                text: qsTr("Stop")
                ToolTip.visible: hovered
                ToolTip.delay: 500
                ToolTip.text: qsTr("Stop (Esc)")
                font.pixelSize: Theme.body
                onClicked: controls.session.stop()
            }
            Spinner {
                size: 13
                Layout.leftMargin: 4
                visible: controls.session.running
            }
            Label {
                id: elapsedLabel
                textFormat: Text.PlainText
                property int seconds: 0
                visible: text !== ""
                text: Formats.elapsed(seconds)
                color: Theme.secondary
                // Digits of one width, so the time does not jitter as it counts.
                font.family: "DejaVu Sans"
                font.pixelSize: Theme.caption2
                Layout.leftMargin: 2
                Timer {
                    running: controls.session.running && !isNaN(controls.session.turnStartedAt.getTime())
                    interval: 1000
                    repeat: true
                    onRunningChanged: elapsedLabel.seconds = 0
                    onTriggered: elapsedLabel.seconds = Math.floor(
                                     (Date.now() - controls.session.turnStartedAt.getTime()) / 1000)
                }
            }
        }
        Item {
            Layout.fillWidth: true
        }
        Label {
            textFormat: Text.PlainText
            text: Formats.localModelCount(controls.session.catalog.installedCount)
            // Not a guess while the first listing is on its way.
            opacity: controls.content.modelsKnown ? 1 : 0
            color: Theme.secondary
            font.pixelSize: Theme.caption2
        }
    }

    // Example prompts, until one is used or they are dismissed.
    RowLayout {
        visible: !controls.session.running && !controls.content.examplesDismissed
        Layout.fillWidth: true
        spacing: 6

        FlowChips {
            items: controls.content.examplePrompts
            Layout.alignment: Qt.AlignTop
            onChosen: text => {
                          controls.prompt = text
                          controls.content.useExample(text)
                      }
        }
        Item {
            Layout.fillWidth: true
        }
        AbstractButton {
            id: dismiss
            ToolTip.visible: dismiss.hovered
            ToolTip.delay: 500
            ToolTip.text: qsTr("Hide the examples")
            FocusRing {
                shown: dismiss.visualFocus
                radius: width / 2 + 2
            }
            Layout.alignment: Qt.AlignTop
            implicitWidth: 18
            implicitHeight: 18
            hoverEnabled: true
            contentItem: Item {
                SymbolIcon {
                    anchors.centerIn: parent
                    symbol: "xmark"
                    size: 9
                    color: Theme.white(dismiss.hovered ? 0.6 : 0.4)
                }
            }
            background: Rectangle {
                radius: 9
                color: Theme.white(0.08)
            }
            onClicked: controls.content.examplesDismissed = true
            Accessible.role: Accessible.Button
            Accessible.name: qsTr("Dismiss examples")
            Accessible.onPressAction: dismiss.clicked()
        }
    }
}
