import QtQuick 2.15
import QtQml 2.15
import Kivo.Points 1.0

// A boiler panel on the bundled samples: two large tiles bound to Point objects, a °C/°F
// switch, a worksheet filter and a list of every point through PointModel. The device is
// simulated below: a Timer reports measured values, and every write is answered (PumpMode Off
// is refused). Given a broker and a device instead, the panel shows that remote device (for
// example one that `kivo-dpoints publish --simulate` plays), and the device answers the writes.
Rectangle {
    id: root
    width: 760
    height: 560
    color: "#f4f5f7"

    // Given by main.cpp: the folder of the samples, and whether the panel plays a script of
    // its own (for the screenshot).
    //
    // Delegates and the answer component below use the panel's ids. Qt 6's qmllint accepts
    // that only under "pragma ComponentBehavior: Bound", which Qt 5 cannot read, so those
    // parts are marked "qmllint disable unqualified".
    required property url samples
    required property bool scripted
    required property string broker
    required property string device
    readonly property bool remote: broker !== "" && device !== ""

    PointProvider {
        id: boiler
        measurementFile: root.remote ? "" : root.samples + "measurements.xml"
        dictionaries: root.remote ? [] : [root.samples + "boiler.xml"]
        broker: root.broker
        device: root.device
    }

    PointModel {
        id: pointModel
        provider: boiler
    }

    Point { id: supplyTemp; provider: boiler; name: "SupplyTemp" }
    Point { id: setpoint; provider: boiler; name: "SupplySetpoint" }
    Point { id: pumpMode; provider: boiler; name: "PumpMode" }
    Point { id: boilerTag; provider: boiler; name: "BoilerTag" }

    property string message: boiler.status === PointProvider.Ready ? boiler.count + " points loaded"
        : boiler.status === PointProvider.Connecting ? "Connecting to " + root.broker
        : boiler.status === PointProvider.Offline ? root.device + " is offline: last known values"
        : boiler.errorString

    // A remote device answers by itself; the panel says how each write ended.
    function updateMessage() {
        if (boiler.status !== PointProvider.Ready) {
            root.message = boiler.status === PointProvider.Connecting ? "Connecting to " + root.broker
                : boiler.status === PointProvider.Offline ? root.device + " is offline: last known values"
                : boiler.errorString;
        }
    }
    Connections {
        target: boiler
        function onStatusChanged() { root.updateMessage(); }
    }
    function followWrite(point) {
        if (!root.remote)
            return;
        root.message = point.name + ": " + (point.writeState === Point.Pending ? "waiting for the device"
            : point.writeState === Point.Confirmed ? "confirmed by the device"
            : point.writeState === Point.Refused ? "refused: " + point.statusText : "");
    }
    Connections {
        target: setpoint
        function onWriteStateChanged() { root.followWrite(setpoint); }
    }
    Connections {
        target: pumpMode
        function onWriteStateChanged() { root.followWrite(pumpMode); }
    }

    // ---- The simulated device ----
    property var deviceValues: ({})

    function report(name, raw) {
        root.deviceValues[name] = raw;
        boiler.report(name, raw);
    }

    Timer {
        id: measurements
        property int tick: 0
        interval: 1000
        running: !root.remote && boiler.status === PointProvider.Ready
        repeat: true
        triggeredOnStart: true
        onTriggered: {
            if (tick === 0) {
                var initial = { ReturnTemp: 690, SupplySetpoint: 820, GasPressure: 25,
                                SupplyVoltage: 231, BurnerModulation: 64, PrePurgeTime: 30,
                                PostPumpRun: 5, EfficiencyEstimate: 88.5, O2Trim: 0.4,
                                BurnerState: 3, PumpMode: 2, FuelSelect: 1, BoilerEnable: 1,
                                LeadLagRole: 1, BoilerTag: "BLR-1", BurnerHours: 12840,
                                MakeupFlow: 0, HeatOutput: 1204, HeatOutputFiltered: 1204.5 };
                for (var name in initial)
                    root.report(name, initial[name]);
            }
            var t = tick++;
            root.report("SupplyTemp", 780 + Math.round(20 * Math.sin(t / 4)));
            root.report("OutdoorTemp", 52 + (t % 7));
            root.report("FlueGasTemp", 162 + (t % 5));
            root.report("SystemPressure", 152 + (t % 3));
            root.report("FlowRate", 300 + 5 * (t % 4));
            root.report("FanSpeed", 3200 + 40 * (t % 6));
        }
    }

    // qmllint disable unqualified
    Component {
        id: answer
        Timer {
            id: pending
            property string point
            property bool refuse
            interval: 1200
            running: true
            onTriggered: {
                if (refuse) {
                    boiler.complete(point, root.deviceValues[point], "E42",
                                      "Pump mode Off is locked by the controller");
                    root.message = point + ": refused by the device";
                } else {
                    boiler.complete(point, undefined, "", "");
                    root.message = point + ": confirmed by the device";
                }
                pending.destroy();
            }
        }
    }
    // qmllint enable unqualified

    function answerLater(name, input) {
        if (root.remote)
            return;
        var refuse = name === "PumpMode" && String(input).toLowerCase() === "off";
        answer.createObject(root, { point: name, refuse: refuse });
        root.message = name + ": waiting for the device";
    }

    function writePoint(point, input) {
        if (!point.write(input)) {
            root.message = point.name + ": " + point.error;
            return;
        }
        root.answerLater(point.name, input);
    }

    function writeRow(row, name, input) {
        if (!pointModel.write(row, input)) {
            root.message = name + ": refused";
            return;
        }
        root.answerLater(name, input);
    }

    function stateColor(state) {
        return state === Point.Pending ? "#c77700"
             : state === Point.Refused ? "#c62828"
             : state === Point.Confirmed ? "#2e7d32" : "#1f2933";
    }

    // The screenshot (--screenshot): in °C, a refused write, then one still waiting for the
    // device.
    Timer {
        running: root.scripted
        interval: 400
        onTriggered: {
            boiler.displaySystem = "msys.si";
            root.writePoint(pumpMode, "Off");
            scriptedSetpoint.start();
        }
    }
    // Remote (--broker): a write the device confirms and one it refuses, once the points are in.
    Timer {
        running: root.scripted && root.remote && boiler.status === PointProvider.Ready
        interval: 300
        onTriggered: {
            root.writePoint(setpoint, 185);
            root.writePoint(pumpMode, "Off");
        }
    }
    Timer {
        id: scriptedSetpoint
        interval: 1200
        onTriggered: root.writePoint(setpoint, 85)
    }

    // ---- The panel ----
    Rectangle {
        id: header
        width: parent.width
        height: 44
        color: "#263238"
        Text {
            anchors.verticalCenter: parent.verticalCenter
            x: 16
            text: "Boiler " + boilerTag.displayText
            color: "white"
            font.pixelSize: 18
            font.bold: true
        }
        // The display system: every Point and the list follow the provider's choice at once.
        Row {
            id: unitSwitch
            anchors.verticalCenter: parent.verticalCenter
            anchors.right: simulated.left
            anchors.rightMargin: 16
            // qmllint disable unqualified
            Repeater {
                model: ["msys.si", "msys.us"]
                Rectangle {
                    id: unitButton
                    required property string modelData
                    readonly property bool chosen: boiler.displaySystem === modelData
                    width: 40; height: 24; radius: 4
                    color: chosen ? "#eceff1" : "#37474f"
                    Text {
                        anchors.centerIn: parent
                        text: unitButton.modelData === "msys.si" ? "°C" : "°F"
                        color: unitButton.chosen ? "#263238" : "#cfd8dc"
                        font.pixelSize: 13
                        font.bold: unitButton.chosen
                    }
                    MouseArea {
                        anchors.fill: parent
                        onClicked: boiler.displaySystem = unitButton.modelData
                    }
                }
            }
            // qmllint enable unqualified
        }
        Text {
            id: simulated
            anchors.verticalCenter: parent.verticalCenter
            anchors.right: parent.right
            anchors.rightMargin: 16
            text: !root.remote ? "simulated device"
                : boiler.online ? root.device + " online" : root.device + " offline"
            color: root.remote && !boiler.online ? "#ff8a80" : "#b0bec5"
            font.pixelSize: 13
        }
    }

    Row {
        id: tiles
        y: header.height + 12
        x: 12
        spacing: 12

        Rectangle {
            width: 220; height: 96; radius: 6; color: "white"; border.color: "#d5d9de"
            Text { x: 12; y: 10; text: supplyTemp.externalName; color: "#52606d"; font.pixelSize: 13 }
            Text {
                x: 12; y: 34
                text: supplyTemp.displayText
                font.pixelSize: 34
                color: supplyTemp.stale ? "#9aa5b1" : "#1f2933"
            }
        }

        Rectangle {
            width: 280; height: 96; radius: 6; color: "white"; border.color: "#d5d9de"
            Text { x: 12; y: 10; text: "Setpoint"; color: "#52606d"; font.pixelSize: 13 }
            Text {
                x: 12; y: 34
                text: setpoint.displayText
                font.pixelSize: 34
                color: setpoint.writeState === Point.Idle && setpoint.stale ? "#9aa5b1"
                    : root.stateColor(setpoint.writeState)
            }
            Text {
                x: 12; y: 76
                text: setpoint.writeState === Point.Pending ? "waiting for the device"
                    : setpoint.writeState === Point.Confirmed ? "confirmed by the device"
                    : setpoint.limitsText + " " + setpoint.units
                color: "#7b8794"
                font.pixelSize: 11
            }
            Column {
                anchors.right: parent.right
                anchors.rightMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                spacing: 6
                // qmllint disable unqualified
                Repeater {
                    model: [1, -1]
                    Rectangle {
                        id: stepButton
                        required property int modelData
                        width: 34; height: 34; radius: 17
                        color: stepArea.pressed ? "#cfd8dc" : "#eceff1"
                        Text {
                            anchors.centerIn: parent
                            text: stepButton.modelData > 0 ? "+" : "−"
                            font.pixelSize: 20
                        }
                        MouseArea {
                            id: stepArea
                            anchors.fill: parent
                            onClicked: root.writePoint(setpoint,
                                                       setpoint.displayValue + stepButton.modelData)
                        }
                    }
                }
                // qmllint enable unqualified
            }
        }

        Rectangle {
            width: 224; height: 96; radius: 6; color: "white"; border.color: "#d5d9de"
            Text { x: 12; y: 10; text: "Pump mode"; color: "#52606d"; font.pixelSize: 13 }
            Text {
                x: 12; y: 34
                text: pumpMode.displayText
                font.pixelSize: 26
                color: root.stateColor(pumpMode.writeState)
            }
            Text {
                x: 12; y: 64
                width: parent.width - 24
                text: pumpMode.writeState === Point.Refused ? pumpMode.statusText
                                                            : pumpMode.limitsText
                color: pumpMode.writeState === Point.Refused ? "#c62828" : "#7b8794"
                font.pixelSize: 11
                wrapMode: Text.WordWrap
                maximumLineCount: 2
                elide: Text.ElideRight
            }
        }
    }

    Row {
        id: worksheets
        x: 12
        y: tiles.y + 96 + 12
        spacing: 6
        // qmllint disable unqualified
        Repeater {
            model: ["", "Boiler", "Burner", "Hydronics", "System", "Electrical", "Alarms"]
            Rectangle {
                id: sheetButton
                required property string modelData
                width: label.implicitWidth + 20; height: 26; radius: 13
                color: pointModel.worksheet === modelData ? "#37474f" : "#e4e7eb"
                Text {
                    id: label
                    anchors.centerIn: parent
                    text: sheetButton.modelData === "" ? "All" : sheetButton.modelData
                    color: pointModel.worksheet === sheetButton.modelData ? "white" : "#1f2933"
                    font.pixelSize: 12
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: pointModel.worksheet = sheetButton.modelData
                }
            }
        }
        // qmllint enable unqualified
    }

    ListView {
        id: list
        x: 12
        y: worksheets.y + 26 + 10
        width: parent.width - 24
        height: parent.height - y - 30
        clip: true
        model: pointModel
        // qmllint disable unqualified
        delegate: Rectangle {
            id: row
            required property int index
            required property string name
            required property string externalName
            required property string displayText
            required property string units
            required property bool writable
            required property int writeState
            required property string worksheet
            required property bool stale
            width: list.width
            height: 28
            color: index % 2 ? "#ffffff" : "#f9fafb"
            Text {
                x: 8; width: 250
                anchors.verticalCenter: parent.verticalCenter
                text: row.externalName
                elide: Text.ElideRight
                font.pixelSize: 13
            }
            Text {
                x: 266; width: 190
                anchors.verticalCenter: parent.verticalCenter
                text: row.displayText
                color: row.writeState === Point.Idle && row.stale ? "#9aa5b1"
                    : root.stateColor(row.writeState)
                font.pixelSize: 13
                font.bold: row.writeState !== Point.Idle
            }
            Text {
                x: 460; width: 80
                anchors.verticalCenter: parent.verticalCenter
                text: row.worksheet
                color: "#7b8794"
                font.pixelSize: 11
            }
            Rectangle {
                visible: row.writable
                x: 548; width: parent.width - 556; height: 22
                anchors.verticalCenter: parent.verticalCenter
                radius: 3
                border.color: input.activeFocus ? "#37474f" : "#cbd2d9"
                TextInput {
                    id: input
                    anchors.fill: parent
                    anchors.leftMargin: 6
                    verticalAlignment: TextInput.AlignVCenter
                    font.pixelSize: 12
                    onAccepted: {
                        root.writeRow(row.index, row.name, text);
                        text = "";
                    }
                }
                Text {
                    visible: input.text === "" && !input.activeFocus
                    anchors.fill: parent
                    anchors.leftMargin: 6
                    verticalAlignment: Text.AlignVCenter
                    text: "new value" + (row.units ? " (" + row.units + ")" : "")
                    color: "#9aa5b1"
                    font.pixelSize: 12
                }
            }
        }
        // qmllint enable unqualified
    }

    Rectangle {
        width: parent.width
        height: 26
        anchors.bottom: parent.bottom
        color: "#e4e7eb"
        Text {
            x: 12
            anchors.verticalCenter: parent.verticalCenter
            text: root.message
            font.pixelSize: 12
            color: "#323f4b"
        }
    }
}
