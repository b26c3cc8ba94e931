import QtQuick 2.15
import QtTest 1.2
import Kivo.Points 1.0

// Point on the bundled samples (examples/data): display units, enumerations, and the write cycle
// with a PointProvider playing the device (report, complete).
TestCase {
    id: testCase
    name: "Point"

    PointProvider {
        id: boiler
        measurementFile: samples + "measurements.xml"
        dictionaries: [samples + "boiler.xml"]
    }

    Component {
        id: pointComponent
        Point { provider: boiler }
    }

    function point(name) {
        return createTemporaryObject(pointComponent, testCase, { name: name });
    }

    function spy(target, signalName) {
        var s = createTemporaryQmlObject("import QtTest 1.2; SignalSpy {}", testCase);
        s.target = target;
        s.signalName = signalName;
        return s;
    }

    function test_providerError() {
        var broken = createTemporaryQmlObject(
            "import Kivo.Points 1.0; PointProvider { dictionaries: [\"no-such-file.xml\"] }",
            testCase);
        compare(broken.status, PointProvider.Error);
        verify(broken.errorString.indexOf("no-such-file.xml") >= 0, broken.errorString);
        compare(broken.count, 0);
        var empty = createTemporaryQmlObject("import Kivo.Points 1.0; PointProvider {}", testCase);
        compare(empty.status, PointProvider.Null);
    }

    function test_displayText_data() {
        return [
            { tag: "temperature", name: "SupplyTemp", raw: 235, text: "74.3 °F",
              displayValue: 74.3, units: "°F" },
            { tag: "names ignore case", name: "supplytemp", raw: -400, text: "-40.0 °F",
              displayValue: -40, units: "°F" },
            { tag: "percent", name: "BurnerModulation", raw: 42, text: "42 %", displayValue: 42,
              units: "%" },
            { tag: "enumeration", name: "PumpMode", raw: 1, text: "Hand", displayValue: "Hand",
              units: "" },
            { tag: "address", name: "BmsGateway", raw: -1062731519, text: "192.168.1.1",
              displayValue: "192.168.1.1", units: "" },
            { tag: "text", name: "BoilerTag", raw: "BLR-7", text: "BLR-7", displayValue: "BLR-7",
              units: "" }
        ];
    }

    function test_displayText(data) {
        var p = point(data.name);
        verify(p.valid);
        var texts = spy(p, "displayTextChanged");
        verify(boiler.report(data.name, data.raw));
        tryVerify(function() { return texts.count > 0; });
        compare(p.displayText, data.text);
        compare(p.displayValue, data.displayValue);
        compare(p.units, data.units);
        verify(p.available);
    }

    function test_definition_data() {
        return [
            { tag: "integer", name: "SupplySetpoint", externalName: "Supply water setpoint",
              minimum: 86, maximum: 203, limitsText: "86.0 – 203.0", labels: [],
              writable: true },
            { tag: "read-only", name: "SupplyTemp", externalName: "Supply water temperature",
              minimum: 32, maximum: 248, limitsText: "32.0 – 248.0", labels: [],
              writable: false },
            { tag: "enumeration", name: "BurnerState", externalName: "Burner sequence state",
              minimum: undefined, maximum: undefined,
              limitsText: "Standby, Pre-purge, Ignition, Low fire, High fire, Post-purge, Lockout",
              labels: ["Standby", "Pre-purge", "Ignition", "Low fire", "High fire",
                       "Post-purge", "Lockout"], writable: false },
            { tag: "two labels", name: "BoilerEnable", externalName: "Boiler enable",
              minimum: undefined, maximum: undefined, limitsText: "Off, On",
              labels: ["Off", "On"], writable: true }
        ];
    }

    function test_definition(data) {
        var p = point(data.name);
        compare(p.externalName, data.externalName);
        compare(p.limitsText, data.limitsText);
        compare(p.minimum, data.minimum);
        compare(p.maximum, data.maximum);
        compare(p.labels, data.labels);
        compare(p.writable, data.writable);
    }

    function test_unknownName() {
        ignoreWarning(/: QML Point: No point named "NoSuchPoint" in the provider; the nearest /);
        var p = point("NoSuchPoint");
        verify(!p.valid);
        compare(p.displayText, "");
        verify(!p.write(1));
        verify(p.error.indexOf("NoSuchPoint") >= 0, p.error);
        p.name = "SupplyTemp";
        verify(p.valid);
        compare(p.error, "");
    }

    // Reported on the QML console with the file and line of the Point, once per name.
    function test_unknownNameWarning_data() {
        return [
            { tag: "letters swapped", name: "SupplySetpiont", nearest: "SupplySetpoint" },
            { tag: "letter case ignored", name: "PUMPMODE", nearest: null },
            { tag: "a letter missing", name: "FanSped", nearest: "FanSpeed" }
        ];
    }

    function test_unknownNameWarning(data) {
        if (data.nearest !== null) {
            ignoreWarning(new RegExp("tst_point\\.qml:\\d+:\\d+: QML Point: No point named \""
                + data.name + "\" in the provider; the nearest name is \"" + data.nearest
                + "\"$"));
        }
        var p = point(data.name);
        compare(p.valid, data.nearest === null);
        p.name = data.name.toLowerCase(); // found or not, nothing more is reported
        p.name = data.name;
    }

    function test_displaySystem() {
        var temperature = point("SupplyTemp");
        var setpoint = point("SupplySetpoint");
        boiler.report("SupplyTemp", 235);
        boiler.report("SupplySetpoint", 820);
        tryCompare(temperature, "displayText", "74.3 °F");
        var texts = spy(temperature, "displayTextChanged");
        var units = spy(temperature, "displayUnitsChanged");
        var systems = spy(boiler, "displaySystemChanged");
        compare(boiler.displaySystem, "msys.us");

        boiler.displaySystem = "msys.si";
        compare(systems.count, 1);
        compare(texts.count, 1);
        compare(units.count, 1);
        compare(temperature.displayText, "23.5 °C");
        compare(temperature.displayValue, 23.5);
        compare(temperature.units, "°C");
        compare(temperature.minimum, 0);
        compare(temperature.maximum, 120);
        compare(temperature.limitsText, "0.0 – 120.0");
        verify(!setpoint.write(96));
        compare(setpoint.error, "Above the upper limit 95.0 °C");
        verify(setpoint.write(85), setpoint.error);
        verify(boiler.complete("SupplySetpoint", undefined, "", ""));
        compare(setpoint.value, 850);

        boiler.displaySystem = "msys.us";
        compare(boiler.displaySystem, "msys.us");
        compare(systems.count, 2);
        compare(temperature.displayText, "74.3 °F");
        compare(temperature.limitsText, "32.0 – 248.0");
        compare(setpoint.displayText, "185.0 °F");
    }

    // The chosen system holds for the points loaded again.
    function test_displaySystemKeptOnReload() {
        boiler.displaySystem = "msys.si";
        boiler.dictionaries = [];
        boiler.dictionaries = [samples + "boiler.xml"];
        var p = point("GasPressure");
        compare(p.units, "bar");
        compare(p.limitsText, "0.00 – 5.00");
        boiler.displaySystem = "";
        compare(boiler.displaySystem, "msys.us");
        compare(p.units, "psi");
    }

    function test_writeAccepted_data() {
        return [
            { tag: "display units", name: "SupplySetpoint", input: 185, raw: 850,
              text: "185.0 °F" },
            { tag: "text with units", name: "SupplySetpoint", input: "176.0 °F", raw: 800,
              text: "176.0 °F" },
            { tag: "label", name: "PumpMode", input: "hand", raw: 1, text: "Hand" }
        ];
    }

    function test_writeAccepted(data) {
        var p = point(data.name);
        boiler.report(data.name, 0);
        compare(p.writeState, Point.Idle);
        verify(p.write(data.input), p.error);
        compare(p.error, "");
        compare(p.writeState, Point.Pending);
        verify(boiler.complete(data.name, undefined, "", ""));
        compare(p.writeState, Point.Confirmed);
        compare(p.statusText, "");
        compare(p.value, data.raw);
        compare(p.displayText, data.text);
    }

    function test_writeRefusedInput_data() {
        return [
            { tag: "above the limit", name: "SupplySetpoint", input: 210,
              error: "Above the upper limit 203.0 °F" },
            { tag: "below the limit", name: "SupplySetpoint", input: "20 °F",
              error: "Below the lower limit 86.0 °F" },
            { tag: "read-only", name: "SupplyTemp", input: 100,
              error: "The point is read-only" },
            { tag: "read-only enumeration", name: "BurnerState", input: "Ignition",
              error: "The point is read-only" },
            { tag: "unknown label", name: "PumpMode", input: "Sometimes", error: undefined },
            { tag: "text too long", name: "BoilerTag", input: "A boiler tag of many letters",
              error: "Longer than 16 characters" }
        ];
    }

    function test_writeRefusedInput(data) {
        var p = point(data.name);
        var before = p.value;
        verify(!p.write(data.input));
        if (data.error !== undefined)
            compare(p.error, data.error);
        else
            verify(p.error !== "");
        compare(p.writeState, Point.Idle);
        compare(p.value, before);
    }

    function test_writeRefusedByDevice() {
        var p = point("PumpMode");
        boiler.report("PumpMode", 2);
        verify(p.write("Off"));
        compare(p.writeState, Point.Pending);
        verify(boiler.complete("PumpMode", 2, "E42", "Device refused the value"));
        compare(p.writeState, Point.Refused);
        compare(p.statusText, "Device refused the value");
        compare(p.displayText, "Auto");
        // A later value from the device ends the refusal's display.
        boiler.report("PumpMode", 1);
        compare(p.writeState, Point.Idle);
        compare(p.statusText, "");
    }

    function test_reload() {
        compare(boiler.status, PointProvider.Ready);
        compare(boiler.errorString, "");
        var p = point("SupplyTemp");
        verify(p.valid);
        boiler.dictionaries = [];
        verify(!p.valid);
        compare(boiler.count, 0);
        boiler.dictionaries = [samples + "boiler.xml"];
        verify(p.valid);
        compare(boiler.count, 40);
    }
}
