import QtQuick 2.15
import QtTest 1.2
import Kivo.Points 1.0

// PointModel: rows, roles as views see them, the worksheet filter, and a write's state.
TestCase {
    id: testCase
    name: "PointModel"

    PointProvider {
        id: boiler
        measurementFile: samples + "measurements.xml"
        dictionaries: [samples + "boiler.xml"]
    }

    PointModel {
        id: model
        provider: boiler
    }

    // What a delegate sees, row by row.
    Repeater {
        id: rows
        model: model
        delegate: Item {
            property string pointName: name
            property string pointExternalName: externalName
            property string pointDisplayText: displayText
            property string pointUnits: units
            property bool pointWritable: writable
            property int pointWriteState: writeState
            property string pointWorksheet: worksheet
        }
    }

    function rowOf(name) {
        for (var i = 0; i < rows.count; ++i) {
            if (rows.itemAt(i).pointName === name)
                return i;
        }
        return -1;
    }

    function cleanup() {
        model.worksheet = "";
    }

    function test_roles_data() {
        return [
            { tag: "SupplyTemp", raw: 235, externalName: "Supply water temperature",
              displayText: "74.3 °F", units: "°F", writable: false, worksheet: "Boiler" },
            { tag: "PumpMode", raw: 1, displayText: "Hand", units: "", writable: true },
            { tag: "SystemPressure", raw: 150, displayText: "21.8 psi", units: "psi",
              writable: false }
        ];
    }

    function test_roles(data) {
        boiler.report(data.tag, data.raw);
        var item = rows.itemAt(rowOf(data.tag));
        compare(item.pointDisplayText, data.displayText);
        compare(item.pointUnits, data.units);
        compare(item.pointWritable, data.writable);
        compare(item.pointWriteState, Point.Idle);
        if (data.externalName !== undefined)
            compare(item.pointExternalName, data.externalName);
        if (data.worksheet !== undefined)
            compare(item.pointWorksheet, data.worksheet);
    }

    function test_worksheet() {
        model.worksheet = "boiler";
        compare(model.count, 6); // boiler.xml: six points on the Boiler worksheet
        compare(rows.count, model.count);
        for (var i = 0; i < rows.count; ++i)
            compare(rows.itemAt(i).pointWorksheet, "Boiler");
        model.worksheet = "No such worksheet";
        compare(model.count, 0);
        model.worksheet = "";
        compare(model.count, 40);
        compare(rows.count, 40);
    }

    function test_displaySystem() {
        var row = rowOf("SupplyTemp");
        boiler.report("SupplyTemp", 235);
        compare(rows.itemAt(row).pointDisplayText, "74.3 °F");
        var changes = createTemporaryQmlObject(
            "import QtTest 1.2; SignalSpy { signalName: \"dataChanged\" }", testCase);
        changes.target = model;
        boiler.displaySystem = "msys.si";
        verify(changes.count > 0);
        compare(rows.itemAt(row).pointDisplayText, "23.5 °C");
        compare(rows.itemAt(row).pointUnits, "°C");
        boiler.displaySystem = "msys.us";
        compare(rows.itemAt(row).pointDisplayText, "74.3 °F");
    }

    function test_write() {
        var row = rowOf("SupplySetpoint");
        boiler.report("SupplySetpoint", 820);
        verify(!model.write(row, 300));
        compare(rows.itemAt(row).pointWriteState, Point.Idle);
        verify(model.write(row, 185));
        compare(rows.itemAt(row).pointWriteState, Point.Pending);
        boiler.complete("SupplySetpoint", undefined, "", "");
        compare(rows.itemAt(row).pointWriteState, Point.Confirmed);
        compare(rows.itemAt(row).pointDisplayText, "185.0 °F");
    }
}
