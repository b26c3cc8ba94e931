import QtQuick 2.15
import QtTest 1.2
import Kivo.Points 1.0

// A C++ application's own kivo::DPointProvider (device.provider, see tst_qml.cpp), and the
// demand-driven reporting: a point is read, and so reported by the device, once a binding shows
// its value.
TestCase {
    id: testCase
    name: "CppProvider"

    Component {
        id: pointComponent
        Point { provider: device.provider }
    }

    Component {
        id: shownComponent
        Text {
            property alias point: shownPoint
            text: shownPoint.displayText
            Point { id: shownPoint; provider: device.provider; name: "OutdoorTemp" }
        }
    }

    function test_model() {
        var model = createTemporaryQmlObject(
            "import Kivo.Points 1.0; PointModel { provider: device.provider }", testCase);
        compare(model.count, 40);
        model.worksheet = "Burner";
        compare(model.count, 10);
        wait(0);
        verify(device.reporting.indexOf("fanspeed") < 0, "reported before a view showed it");
        // A view that shows the rows' display texts reads their points, and only theirs.
        var view = createTemporaryQmlObject("import QtQuick 2.15; Repeater { "
                                            + "delegate: Item { property string text: displayText } }",
                                            testCase);
        view.model = model;
        compare(view.count, 10);
        verify(device.reporting.indexOf("fanspeed") >= 0, "not reported while shown");
        verify(device.reporting.indexOf("supplytemp") < 0, "another worksheet's point reported");
    }

    function test_reportingOnDemand() {
        var p = createTemporaryObject(pointComponent, testCase, { name: "OutdoorTemp" });
        verify(p.valid);
        compare(p.units, "°F");
        wait(0);
        verify(device.reporting.indexOf("outdoortemp") < 0, "reported before it was shown");
        var shown = createTemporaryObject(shownComponent, testCase);
        verify(shown.point.valid);
        verify(device.reporting.indexOf("outdoortemp") >= 0, "not reported while shown");
        device.report("OutdoorTemp", 100);
        tryCompare(shown, "text", "50.0 °F");
        // Followed from then on: a change shows at once.
        device.report("OutdoorTemp", 200);
        compare(shown.text, "68.0 °F");
    }

    // The application switches its registry: the points shown follow without a reload.
    function test_displaySystem() {
        var shown = createTemporaryQmlObject("import QtQuick 2.15; import Kivo.Points 1.0; Text { "
            + "property alias point: p; text: p.displayText; "
            + "Point { id: p; provider: device.provider; name: \"ReturnTemp\" } }", testCase);
        device.report("ReturnTemp", 200);
        tryCompare(shown, "text", "68.0 °F");
        device.setDisplaySystem("msys.si");
        compare(shown.text, "20.0 °C");
        compare(shown.point.units, "°C");
        compare(shown.point.limitsText, "0.0 – 120.0");
        device.setDisplaySystem("msys.us");
        compare(shown.text, "68.0 °F");
    }
}
