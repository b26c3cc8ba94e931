import QtQuick 2.15
import QtTest 1.2
import Kivo.Points 1.0

// A PointProvider given a broker and a device instead of files: the device's points mirrored,
// writes answered by the device, and the offline state while the device is away.
TestCase {
    id: testCase
    name: "RemoteProvider"

    Component {
        id: panelComponent
        Item {
            property alias provider: provider
            property alias setpoint: setpoint
            property alias model: model
            property string shown: setpoint.displayText
            PointProvider { id: provider; broker: remote.url; device: remote.device }
            Point { id: setpoint; provider: provider; name: "SupplySetpoint" }
            PointModel { id: model; provider: provider; worksheet: "Boiler" }
        }
    }

    function init() {
        if (!remote)
            skip("built without the MQTT link");
    }

    function test_remoteDevice() {
        var panel = createTemporaryObject(panelComponent, testCase);
        tryCompare(panel.provider, "status", PointProvider.Ready, 10000);
        compare(panel.provider.count, 40);
        verify(panel.provider.online);
        tryCompare(panel, "shown", "179.6 °F", 5000);
        verify(panel.setpoint.online);
        verify(!panel.setpoint.stale);
        compare(panel.setpoint.externalName, "Supply water setpoint");

        // A write confirmed by the device, then one it refuses with its own status.
        verify(panel.setpoint.write(185));
        tryCompare(panel.setpoint, "writeState", Point.Confirmed, 5000);
        compare(remote.deviceValue("SupplySetpoint"), 850);
        remote.refuseWrites(true);
        verify(panel.setpoint.write(190));
        tryCompare(panel.setpoint, "writeState", Point.Refused, 5000);
        compare(panel.setpoint.statusText, "Not while the burner runs");
        remote.refuseWrites(false);

        // The device stops: the last values stay, stale; writes are refused at once.
        remote.stopDevice();
        tryCompare(panel.provider, "status", PointProvider.Offline, 5000);
        verify(!panel.provider.online);
        verify(panel.setpoint.stale);
        var row = panel.model.index(0, 0);
        compare(panel.model.data(row, PointModel.StaleRole), true);
        verify(panel.setpoint.write(186));
        tryCompare(panel.setpoint, "writeState", Point.Refused, 5000);
        compare(panel.setpoint.statusText, "The device is offline");

        // Back: online again, and writes go through.
        remote.startDevice();
        tryCompare(panel.provider, "status", PointProvider.Ready, 10000);
        verify(!panel.setpoint.stale);
        compare(panel.model.data(row, PointModel.StaleRole), false);
        verify(panel.setpoint.write(187));
        tryCompare(panel.setpoint, "writeState", Point.Confirmed, 5000);
    }

    function test_badBroker() {
        var provider = createTemporaryQmlObject(
            "import Kivo.Points 1.0; PointProvider { broker: 'ftp://nowhere'; device: 'boiler1' }",
            testCase);
        compare(provider.status, PointProvider.Error);
        compare(provider.errorString, "ftp://nowhere is no broker address");
    }
}
