import QtQuick 2.15
import QtTest 1.2
import Kivo.Points 1.0

// The README's QML snippet, loaded as written beside the bundled samples, shows what its
// comments say.
TestCase {
    id: testCase
    name: "Readme"

    function setpointOf(panel) {
        for (var i = 0; i < panel.resources.length; ++i) {
            if (panel.resources[i].name === "SupplySetpoint")
                return panel.resources[i];
        }
        return null;
    }

    function test_snippet() {
        verify(readmeQml.indexOf("PointProvider") > 0, "the README has a QML snippet");
        var panel = createTemporaryQmlObject(readmeQml, testCase, samples + "readme.qml");
        var line = panel.children[0], limits = panel.children[1], error = panel.children[2];
        var plus = panel.children[3];
        var setpoint = setpointOf(panel);
        verify(setpoint !== null);
        tryCompare(line, "text", "Supply water setpoint: 185.0 °F");
        compare(line.color.toString(), "#000000");
        compare(limits.text, "86.0 – 203.0 °F");
        verify(!setpoint.write(210));
        compare(error.text, "Above the upper limit 203.0 °F");

        plus.children[0].clicked(null); // the click on "+1"
        compare(line.color.toString(), "#ffa500"); // orange while the device answers
        compare(error.text, "");
        // Committed after 100 ms, answered a second later; 186 °F is 856 tenths of a degree C.
        tryCompare(line, "text", "Supply water setpoint: 186.1 °F");
        tryVerify(function() { return line.color.toString() === "#000000"; }, 3000);
        compare(setpoint.writeState, Point.Confirmed);

        panel.resources[0].displaySystem = "msys.si";
        compare(line.text, "Supply water setpoint: 85.6 °C");
        compare(limits.text, "30.0 – 95.0 °C");
    }
}
