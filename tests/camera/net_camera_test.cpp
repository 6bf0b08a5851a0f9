// The network camera against the simulated camera on loopback: login, the
// stored row of each device, the refresh from the device, every control
// request with its reply, refused and unanswered requests, the stream and its
// decoder, a camera that goes away mid-stream, and the bring-up away from the
// calling thread. Requests and replies as texts are checked on their own.
#include "net_test_support.h"

#include <QFile>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include <functional>
#include <tuple>

namespace {

class NetCameraLogin : public NetCameraFixture {};
class NetCameraRefresh : public NetCameraFixture {};
class NetCameraControls : public NetCameraFixture {};
class NetCameraFailures : public NetCameraFixture {};
class NetCameraStream : public NetCameraFixture {};

} // namespace

// ---- request texts and replies ----

TEST(NetCameraRequests, TextsAreJsonWhateverTheyHold)
{
    NetworkOpenSettings network;
    network.address = QStringLiteral("10.0.0.7");
    network.user = QStringLiteral("ad\"min\\");
    network.password = QString(300, QLatin1Char('p'));  // longer than any fixed buffer
    network.port = QStringLiteral("8080");
    const QJsonObject login = QJsonDocument::fromJson(netrequest::loginText(network)).object();
    EXPECT_EQ(login.value("cmd").toString(), "login");
    EXPECT_EQ(login.value("ip").toString(), "10.0.0.7");
    EXPECT_EQ(login.value("port").toInt(), 8080);
    EXPECT_EQ(login.value("login").toObject().value("username").toString(), network.user);
    EXPECT_EQ(login.value("login").toObject().value("passwd").toString(), network.password);

    for (const char *port : {"", "0", "65536", "80x", "-1"}) {
        network.port = QLatin1String(port);
        EXPECT_TRUE(netrequest::loginText(network).isEmpty()) << port;
    }

    EXPECT_EQ(netrequest::commandText("system"), QByteArray("{\"cmd\":\"system\"}"));
    const QJsonObject image =
        QJsonDocument::fromJson(netrequest::commandText("set_img_awb", {{"awb", "man\"ual"}, {"r", 600}})).object();
    EXPECT_EQ(image.value("set_img_awb").toObject().value("awb").toString(), "man\"ual");
    EXPECT_EQ(image.value("set_img_awb").toObject().value("r").toInt(), 600);
}

TEST(NetCameraRequests, EachReplyShapeIsJudged)
{
    // The library's result and reply text, and what the caller is told. Only
    // an accepted reply hands out the object named like the command.
    struct Shape {
        int result;
        const char *text;
        NetReply::Status status;
        int code;
        bool unreachable;
    };
    const Shape shapes[] = {
        {0, R"({"cmd":"x","code":0,"x":{"code":0,"v":7}})", NetReply::Accepted, 0, false},
        {0, R"({"cmd":"x","x":{"v":7}})", NetReply::Accepted, 0, false},
        {0, R"({"cmd":"x","code":"0","x":{"v":7}})", NetReply::Accepted, 0, false},
        {0, R"({"cmd":"x","code":4099,"x":{"v":7}})", NetReply::Refused, 4099, false},
        {0, R"({"cmd":"x","code":0,"x":{"code":4100,"v":7}})", NetReply::Refused, 4100, false},
        {0, R"({"cmd":"x","x":{"code":"4101","v":7}})", NetReply::Refused, 4101, false},
        {0, R"({"cmd":"x","code":-3,"x":{"v":7}})", NetReply::Refused, -3, false},
        // A code that is there but reads as no whole number is no acceptance.
        {0, R"({"cmd":"x","code":"busy","x":{"v":7}})", NetReply::Refused, -1, false},
        {0, R"({"cmd":"x","code":"","x":{"v":7}})", NetReply::Refused, -1, false},
        {0, R"({"cmd":"x","code":true,"x":{"v":7}})", NetReply::Refused, -1, false},
        {0, R"({"cmd":"x","code":false,"x":{"v":7}})", NetReply::Refused, -1, false},
        {0, R"({"cmd":"x","code":null,"x":{"v":7}})", NetReply::Refused, -1, false},
        {0, R"({"cmd":"x","x":{"code":{},"v":7}})", NetReply::Refused, -1, false},
        {0, R"({"cmd":"x","x":{"code":[0],"v":7}})", NetReply::Refused, -1, false},
        {0, R"({"cmd":"x","code":0.5,"x":{"v":7}})", NetReply::Refused, -1, false},
        {0, R"({"cmd":"x","code":1e20,"x":{"v":7}})", NetReply::Refused, -1, false},
        // Nothing the program can read: the device was reached, though.
        {0, "not json", NetReply::Failed, 0, false},
        {0, "", NetReply::Failed, 0, false},
        {0, "[1,2]", NetReply::Failed, 0, false},
        {0, nullptr, NetReply::Failed, 0, false},
        // The library's own results.
        {TROVIX_TIMEOUT, nullptr, NetReply::TimedOut, TROVIX_TIMEOUT, true},
        {TROVIX_FAILED, nullptr, NetReply::Failed, TROVIX_FAILED, true},
        {TROVIX_DEVICE_CODE, R"({"cmd":"x","code":"busy","x":{"v":7}})", NetReply::Refused, TROVIX_DEVICE_CODE, false},
        {4102, R"({"cmd":"x","code":4102,"x":{"v":7}})", NetReply::Refused, 4102, false},
    };
    for (const Shape &shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.result) + " " + (shape.text ? shape.text : "(no text)"));
        const NetReply reply = netrequest::evaluate(shape.result, shape.text, "x");
        EXPECT_EQ(reply.status, shape.status);
        EXPECT_EQ(reply.code, shape.code);
        EXPECT_EQ(reply.ok(), shape.status == NetReply::Accepted);
        EXPECT_EQ(reply.unreachable(), shape.unreachable);
        EXPECT_EQ(reply.body.value("v").toInt(-1), shape.status == NetReply::Accepted ? 7 : -1);
    }
    // Accepted without the command's object: nothing to read, no error.
    const NetReply bare = netrequest::evaluate(0, R"({"cmd":"x","code":0})", "x");
    EXPECT_TRUE(bare.ok());
    EXPECT_TRUE(bare.body.isEmpty());
}

TEST(NetCameraRequests, MembersAreReadOnlyWithTheirType)
{
    const QJsonObject values =
        QJsonDocument::fromJson("{\"a\":7,\"b\":1.5,\"c\":\"7\",\"d\":1e20,\"e\":true,\"r\":{\"m\":{\"max\":9}}}")
            .object();
    int number = -1;
    EXPECT_TRUE(netrequest::readInt(values, {"a"}, number));
    EXPECT_EQ(number, 7);
    EXPECT_TRUE(netrequest::readInt(values, {"r", "m", "max"}, number));
    EXPECT_EQ(number, 9);
    number = -1;
    for (const char *name : {"b", "c", "d", "e", "missing"})
        EXPECT_FALSE(netrequest::readInt(values, {name}, number)) << name;
    EXPECT_EQ(number, -1);
    bool flag = false;
    EXPECT_FALSE(netrequest::readBool(values, {"a"}, flag));
    EXPECT_TRUE(netrequest::readBool(values, {"e"}, flag));
}

TEST(NetCameraRequests, OneSetOfCredentials)
{
    const CameraOpenSettings open = networkOpenSettings("10.253.0.1");
    EXPECT_TRUE(open.isNetwork);
    EXPECT_EQ(open.network.address, "10.253.0.1");
    EXPECT_EQ(open.network.user, NetCameraCredentials::user);
    EXPECT_EQ(open.network.password, NetCameraCredentials::password);
    EXPECT_EQ(open.network.port, "80");
}

// ---- login ----

TEST_F(NetCameraLogin, TakesTheModelAndKeysTheCameraByDevice)
{
    auto camera = loggedIn<E530NetCamera>("E530_IPC");
    EXPECT_NE(camera->loginId(), 0);
    EXPECT_EQ(camera->modelText(), "E530_IPC");
    EXPECT_EQ(camera->cameraName(), "127.0.0.1");
    // Without a serial number the address tells cameras of one model apart.
    EXPECT_EQ(camera->uniqueName(), "E530_IPC@127.0.0.1");
    const QJsonObject login = QJsonDocument::fromJson(QByteArray::fromStdString(sim.received().at(0))).object();
    EXPECT_EQ(login.value("cmd").toString(), "login");
    EXPECT_EQ(login.value("login").toObject().value("username").toString(), "admin");
    EXPECT_EQ(login.value("login").toObject().value("passwd").toString(), "730418");
    EXPECT_EQ(sim.commands().at(1), "system");

    sim.setGroup("system", R"({"sn": "SN-0042", "hw_ver": "HW-2", "sw_ver": "SW-3"})");
    auto second = loggedIn<E530NetCamera>("E530_IPC");
    EXPECT_EQ(second->uniqueName(), "E530_IPC@SN-0042");
    EXPECT_EQ(second->serialNumber(), "SN-0042");
    EXPECT_NE(second->loginId(), camera->loginId());
}

TEST_F(NetCameraLogin, RefusedLoginLeavesNoLogin)
{
    sim.setLoginReply(simcam::Reply::refuse(4101));
    E530NetCamera camera;
    EXPECT_FALSE(camera.login(settings()));
    EXPECT_EQ(camera.loginId(), 0);
    EXPECT_TRUE(camera.uniqueName().isEmpty());
    CameraOpenSettings badPort = settings();
    badPort.network.port = QStringLiteral("http");
    EXPECT_FALSE(camera.login(badPort));
}

TEST_F(NetCameraLogin, CameraThatDoesNotTellItsModelIsLoggedOutAgain)
{
    sim.queueReply(simcam::Reply::answer(R"({"cmd":"system","system":{"sw_ver":"1"}})"));
    E530NetCamera camera;
    EXPECT_FALSE(camera.login(settings()));
    EXPECT_EQ(camera.loginId(), 0);
    EXPECT_TRUE(waitFor([&] { return sim.commands().back() == "logout"; }, 3000));
}

TEST_F(NetCameraLogin, ModelProbeLogsOutWhateverTheAnswer)
{
    sim.setModel("W640_IPC");
    EXPECT_EQ(getCameraModel(settings()), "W640_IPC");
    EXPECT_TRUE(waitFor([&] { return sim.commands().back() == "logout"; }, 3000));
    sim.queueReply(simcam::Reply::refuse(4099));
    EXPECT_EQ(getCameraModel(settings()), "");
    EXPECT_TRUE(waitFor([&] { return sim.commands().back() == "logout"; }, 3000));
    sim.setLoginReply(simcam::Reply::refuse(4101));
    EXPECT_EQ(getCameraModel(settings()), "");
}

TEST_F(NetCameraLogin, TwoCamerasOfOneModelKeepTheirOwnRows)
{
    // A row kept under the bare model text by an earlier version becomes the
    // starting row of each camera of that model.
    CameraRow old;
    old.contrastValue = 77;
    old.resolution = old.pictureResolution = "1920x1080";
    ASSERT_TRUE(CameraDatabase::instance().insertRow("E530_IPC", old));

    sim.setGroup("system", R"({"sn": "SN-A"})");
    auto first = loggedIn<E530NetCamera>("E530_IPC");
    CameraParameters record;
    first->queryParameters(record);
    sim.setGroup("system", R"({"sn": "SN-B"})");
    auto second = loggedIn<E530NetCamera>("E530_IPC");
    second->queryParameters(record);

    ASSERT_TRUE(CameraDatabase::instance().saveCameraProperty(first->uniqueName(), "contrastValue", 12));
    CameraRow rowA, rowB;
    ASSERT_TRUE(CameraDatabase::instance().findRow("E530_IPC@SN-A", rowA));
    ASSERT_TRUE(CameraDatabase::instance().findRow("E530_IPC@SN-B", rowB));
    EXPECT_EQ(rowA.contrastValue, 12);
    EXPECT_EQ(rowB.contrastValue, 77);
}

TEST_F(NetCameraLogin, FirstSeenCameraGetsItsModelsDefaultRow)
{
    auto camera = loggedIn<W620NetCamera>("W620_IPC");
    CameraParameters record;
    EXPECT_TRUE(camera->queryParameters(record));
    CameraRow row;
    ASSERT_TRUE(CameraDatabase::instance().findRow("W620_IPC@127.0.0.1", row));
    EXPECT_EQ(row.fps, 60);
    EXPECT_EQ(row.whiteBalanceR, 490);
    EXPECT_EQ(record.fps, 60);
    EXPECT_EQ(record.resolution.text, "1920x1080");
}

// ---- refresh ----

TEST_F(NetCameraRefresh, ReadsEveryValueTheDeviceHolds)
{
    sim.setGroup("system", R"({"hw_ver": "HW-9", "sw_ver": "SW-8"})");
    sim.setGroup("meexposure", R"({"expo_type": 1, "shuttertime": 333, "a_gain": 12,
                                   "range": {"shuttertime": {"min": 2, "max": 900}, "a_gain": {"min": 0, "max": 64}}})");
    sim.setGroup("image", R"({"focus_mode": 0, "focus_value": 100, "bright": 40, "contrast": 61, "saturation": 0,
                              "hue": 44, "sharpness": 9, "ezoom_value": 3})");
    sim.setGroup("roi", R"({"roi": true, "roi_x": 3, "roi_y": 4})");
    sim.setGroup("awb", R"({"awb": "manual"})");
    sim.setGroup("awb_gains", R"({"r": 600, "gb": 250, "b": 400})");
    sim.setGroup("mirror_flip", R"({"mirror": true, "flip": false})");
    sim.setGroup("gamma", R"({"level": 4})");
    sim.setGroup("gamma_range", R"({"range": {"level": {"min": 1, "max": 9}}})");
    sim.setGroup("demist", R"({"demist": true})");
    sim.setGroup("flick", R"({"flick": true})");
    sim.setGroup("mode", R"({"mode": 1})");
    auto camera = loggedIn<NetCamera>("E530_IPC");
    CameraParameters out;
    out.exposureCompensation.value = 56;
    const size_t from = mark();
    ASSERT_TRUE(camera->queryParameters(out));

    EXPECT_EQ(camera->displayName(), "HW-9 SW-8 5.1.0");
    EXPECT_EQ(out.exposureMode, ExposureManual);
    EXPECT_EQ(out.exposureTime.value, 333);
    EXPECT_EQ(out.exposureTime.minimum, 2);
    EXPECT_EQ(out.exposureTime.maximum, 900);
    EXPECT_EQ(out.exposureGain.value, 12);
    EXPECT_EQ(out.exposureGain.maximum, 64);
    EXPECT_EQ(out.focusMode, FocusAuto);
    EXPECT_EQ(out.focus.value, 125);  // the device's 100 in the user's scale
    EXPECT_EQ(out.focus.maximum, 400);
    EXPECT_TRUE(out.focusRegionEnabled);
    EXPECT_EQ(out.focusRegionX, 3);
    EXPECT_EQ(out.focusRegionY, 4);
    EXPECT_EQ(out.zoom.value, 3);
    EXPECT_EQ(out.exposureCompensation.value, 56);  // manual exposure: the stored value stays
    EXPECT_EQ(out.exposureCompensation.maximum, 255);
    EXPECT_EQ(out.contrast.value, 61);
    EXPECT_EQ(out.saturation.value, 0);
    EXPECT_TRUE(out.monochromeOn);
    EXPECT_EQ(out.hue.value, 44);
    EXPECT_EQ(out.sharpness.value, 9);
    EXPECT_EQ(out.whiteBalanceMode, WbManual);
    EXPECT_EQ(out.whiteBalanceRed.value, 600);
    EXPECT_EQ(out.whiteBalanceGreen.value, 250);
    EXPECT_EQ(out.whiteBalanceBlue.value, 400);
    EXPECT_EQ(out.whiteBalanceBlue.maximum, 4095);
    EXPECT_TRUE(out.mirror);
    EXPECT_FALSE(out.flip);
    EXPECT_EQ(out.gamma.value, 4);
    EXPECT_EQ(out.gamma.maximum, 9);
    EXPECT_TRUE(out.defogOn);
    EXPECT_TRUE(out.flickerOn);
    EXPECT_EQ(out.displayMode, DisplayMetallography);

    // What a plain network camera offers.
    EXPECT_TRUE(out.focus.supported && out.focusSlider && out.exposureSupported && out.whiteBalanceSupported);
    EXPECT_TRUE(out.resolutionSelectable && out.frameRateSelectable && out.extraControlB);
    EXPECT_FALSE(out.zoom.supported || out.gamma.supported || out.defogSupported || out.streamFormatSelectable);
    EXPECT_EQ(out.streamFormats, QList<int>{StreamMjpeg});

    // get_image names the login as "idx"; the others the stream index 0.
    EXPECT_EQ(intAt(lastArgs("get_image"), "idx"), camera->loginId());
    EXPECT_EQ(intAt(lastArgs("img_roi"), "idx"), 0);
    EXPECT_EQ(intAt(lastArgs("img_mode"), "idx"), 0);
    EXPECT_EQ(commandsSince(from).size(), 12u);
}

TEST_F(NetCameraRefresh, MissingOrRefusedValuesLeaveTheStoredOnes)
{
    auto camera = loggedIn<NetCamera>("E530_IPC");
    sim.queueReply(simcam::Reply::answer());                                         // system
    sim.queueReply(simcam::Reply::answer(R"({"cmd":"img_meexposure","code":0})"));  // nothing in it
    sim.queueReply(simcam::Reply::refuse(4099));                                     // get_image
    CameraParameters out;
    out.contrast.value = 33;
    out.focus.value = 210;
    out.exposureMode = ExposureManual;
    EXPECT_FALSE(camera->refreshFromDevice(out));
    EXPECT_EQ(out.contrast.value, 33);
    EXPECT_EQ(out.focus.value, 210);
    EXPECT_EQ(out.exposureMode, ExposureManual);
    EXPECT_EQ(out.whiteBalanceRed.value, 628);  // later requests were still answered
}

// ---- controls ----

TEST_F(NetCameraControls, ExposureRequestsAndTheirRules)
{
    auto camera = ready<E530NetCamera>("E530_IPC");
    LogCatcher log;
    camera->onSetExpGainValue(20);
    EXPECT_TRUE(log.contains("Exposure gain can only be modified in manual mode!"));
    camera->onSetExpMode(ExposureManual);
    EXPECT_EQ(intAt(group("meexposure"), "expo_type"), 1);
    // The mode goes with the time and gain the camera holds.
    EXPECT_EQ(intAt(lastArgs("set_img_meexposure"), "shuttertime"), 150);
    EXPECT_EQ(intAt(lastArgs("set_img_meexposure"), "a_gain"), 0);
    camera->onSetExpGainValue(20);
    EXPECT_EQ(intAt(lastArgs("set_img_meexposure"), "a_gain"), 20);
    camera->onSetExpTime(200);
    EXPECT_EQ(intAt(group("meexposure"), "shuttertime"), 200);
    EXPECT_EQ(intAt(group("meexposure"), "a_gain"), 20);
    camera->onSetExpCompValue(70);
    EXPECT_TRUE(log.contains("Bright can only be modified in auto mode!"));

    camera->onSetExpMode(ExposureAuto);
    EXPECT_EQ(intAt(group("meexposure"), "expo_type"), 0);
    camera->onSetExpCompValue(70);
    EXPECT_EQ(intAt(group("image"), "bright"), 70);
    const size_t from = mark();
    camera->onSetExpCompValue(70);                 // unchanged
    camera->onSetExpMode(ExposureMode(3));         // no such mode
    EXPECT_TRUE(commandsSince(from).empty());

    QSignalSpy mode(camera.get(), &BaseCamera::sendExpMode);
    QSignalSpy compensation(camera.get(), &BaseCamera::sendExpCompValue);
    QSignalSpy gain(camera.get(), &BaseCamera::sendExpGainValue);
    QSignalSpy time(camera.get(), &BaseCamera::sendExpTime);
    sim.setGroup("exposure", R"({"compensation": 66})");
    camera->onGetExpMode();
    camera->onGetExpCompValue();
    camera->onGetExpGainValue();
    camera->onGetExpTime();
    EXPECT_EQ(compensation.at(0).at(0).toInt(), 66);
    EXPECT_EQ(gain.at(0).at(0).toInt(), 20);
    EXPECT_EQ(time.at(0).at(0).toInt(), 200);

    // The device's exposure types: 0 auto, 1 manual; the refresh takes any
    // other for manual, the getter tells nothing of it.
    for (const auto &[type, told, refreshed] : {std::tuple{0, 1, ExposureAuto}, std::tuple{1, 2, ExposureManual},
                                                std::tuple{2, 0, ExposureManual}}) {
        SCOPED_TRACE(type);
        sim.setGroup("meexposure", "{\"expo_type\": " + std::to_string(type) + "}");
        mode.clear();
        camera->onGetExpMode();
        ASSERT_EQ(mode.count(), told ? 1 : 0);
        if (told) {
            EXPECT_EQ(mode.at(0).at(0).value<ExposureMode>(), ExposureMode(told));
        }
        CameraParameters out;
        out.exposureMode = 0;
        camera->refreshFromDevice(out);
        EXPECT_EQ(out.exposureMode, refreshed);
    }
}

TEST_F(NetCameraControls, WhiteBalanceStartsManualFromTheCamerasGains)
{
    sim.setGroup("awb_gains", R"({"r": 611, "gb": 244, "b": 433})");
    auto camera = ready<NetCamera>("E530_IPC");
    LogCatcher log;
    camera->onSetWbRedValue(300);
    EXPECT_TRUE(log.contains("Red can only be modified in manual mode!"));
    QSignalSpy red(camera.get(), &BaseCamera::sendWbRedValue);
    camera->onSetWbMode(WbManual);
    ASSERT_EQ(red.count(), 1);
    EXPECT_EQ(red.at(0).at(0).toInt(), 611);
    const QJsonObject awb = lastArgs("set_img_awb");
    EXPECT_EQ(awb.value("awb").toString(), "manual");
    EXPECT_EQ(intAt(awb, "r"), 611);
    EXPECT_EQ(intAt(awb, "gb"), 244);
    EXPECT_EQ(intAt(awb, "gr"), 244);
    EXPECT_EQ(intAt(awb, "b"), 433);

    camera->onSetWbRedValue(700);
    camera->onSetWbGreenValue(260);
    camera->onSetWbBlueValue(500);
    EXPECT_EQ(intAt(group("awb_gains"), "r"), 700);
    EXPECT_EQ(intAt(group("awb_gains"), "gb"), 260);
    EXPECT_EQ(intAt(group("awb_gains"), "b"), 500);

    QSignalSpy redRead(camera.get(), &BaseCamera::sendWbRedValue);
    QSignalSpy green(camera.get(), &BaseCamera::sendWbGreenValue);
    QSignalSpy blue(camera.get(), &BaseCamera::sendWbBlueValue);
    camera->onGetWbRedValue();
    camera->onGetWbGreenValue();
    camera->onGetWbBlueValue();
    EXPECT_EQ(redRead.value(0).value(0).toInt(), 700);
    EXPECT_EQ(green.value(0).value(0).toInt(), 260);
    EXPECT_EQ(blue.value(0).value(0).toInt(), 500);

    camera->onSetWbMode(WbAuto);
    EXPECT_EQ(group("awb").value("awb").toString(), "auto");
    // Only "auto" and "manual", as written, mean a mode.
    QSignalSpy mode(camera.get(), &BaseCamera::sendWbMode);
    for (const auto &[text, told] : {std::pair{"manual", 2}, std::pair{"auto", 1}, std::pair{"Auto", 0},
                                     std::pair{"", 0}}) {
        SCOPED_TRACE(text);
        sim.setGroup("awb", std::string(R"({"awb": ")") + text + "\"}");
        mode.clear();
        camera->onGetWbMode();
        ASSERT_EQ(mode.count(), told ? 1 : 0);
        if (told) {
            EXPECT_EQ(mode.at(0).at(0).value<WbMode>(), WbMode(told));
        }
        CameraParameters out;
        out.whiteBalanceMode = 0;
        camera->refreshFromDevice(out);
        EXPECT_EQ(out.whiteBalanceMode, told);
    }
}

TEST_F(NetCameraControls, OnceWhiteBalanceKeepsTheGainsTheCameraFoundInAuto)
{
    sim.setGroup("awb_gains", R"({"r": 611, "gb": 244, "b": 433})");
    auto camera = ready<NetCamera>("E530_IPC");
    camera->onSetWbMode(WbManual);
    // In auto mode the camera settles on gains of its own, while the one-shot
    // white balance waits.
    QTimer settle;
    QObject::connect(&settle, &QTimer::timeout, [&] {
        if (group("awb").value("awb").toString() != "auto")
            return;
        sim.setGroup("awb_gains", R"({"r": 702, "gb": 250, "b": 380})");
        settle.stop();
    });
    settle.start(5);
    QSignalSpy red(camera.get(), &BaseCamera::sendWbRedValue);
    QSignalSpy blue(camera.get(), &BaseCamera::sendWbBlueValue);
    const size_t from = mark();
    camera->onSetWhiteBalanceOnce();
    ASSERT_TRUE(waitFor([&] { return !camera->isContinuing(); }));
    EXPECT_EQ(commandsSince(from), (std::vector<std::string>{"set_img_awb", "info_img_awb", "set_img_awb"}));
    const QJsonObject awb = lastArgs("set_img_awb");
    EXPECT_EQ(awb.value("awb").toString(), "manual");
    EXPECT_EQ(intAt(awb, "r"), 702);
    EXPECT_EQ(intAt(awb, "b"), 380);
    ASSERT_EQ(red.count(), 1);
    EXPECT_EQ(red.at(0).at(0).toInt(), 702);
    EXPECT_EQ(blue.at(0).at(0).toInt(), 380);
    EXPECT_EQ(camera->parameters().whiteBalanceMode, WbManual);
}

TEST_F(NetCameraControls, PictureRequestsCarryTheWholeImageRecord)
{
    auto camera = ready<NetCamera>("E530_IPC");
    camera->onSetContrastValue(61);
    camera->onSetHueValue(45);
    camera->onSetSaturationValue(90);
    camera->onSetSharpnessValue(11);
    const QJsonObject image = lastArgs("set_image");
    EXPECT_EQ(intAt(image, "contrast"), 61);
    EXPECT_EQ(intAt(image, "hue"), 45);
    EXPECT_EQ(intAt(image, "saturation"), 90);
    EXPECT_EQ(intAt(image, "sharpness"), 11);
    EXPECT_EQ(intAt(image, "bright"), 56);
    // The focus position goes back as the device holds it.
    EXPECT_EQ(intAt(image, "focus_mode"), 1);
    EXPECT_EQ(intAt(image, "focus_value"), 175);
    EXPECT_EQ(intAt(group("image"), "focus_value"), 175);

    camera->onSetFilckStatus(true);
    EXPECT_TRUE(group("flick").value("flick").toBool());
    camera->onSetGammaValue(7);
    EXPECT_EQ(intAt(group("gamma"), "level"), 7);

    // Monochrome keeps the saturation it replaced.
    camera->onSetMonoChromeStatus(true);
    EXPECT_EQ(intAt(group("image"), "saturation"), 0);
    size_t from = mark();
    camera->onSetMonoChromeStatus(true);
    EXPECT_TRUE(commandsSince(from).empty());
    QSignalSpy saturation(camera.get(), &BaseCamera::sendSaturationValue);
    camera->onSetMonoChromeStatus(false);
    EXPECT_EQ(intAt(group("image"), "saturation"), 90);
    EXPECT_EQ(saturation.at(0).at(0).toInt(), 90);

    QSignalSpy contrast(camera.get(), &BaseCamera::sendContrastValue);
    QSignalSpy gamma(camera.get(), &BaseCamera::sendGammaValue);
    QSignalSpy mono(camera.get(), &BaseCamera::sendMonoChromeStatus);
    QSignalSpy flick(camera.get(), &BaseCamera::sendFlickStatus);
    sim.setGroup("image", R"({"contrast": 48})");
    camera->onGetContrastValue();
    camera->onGetGammaValue();
    camera->onGetMonoChromeStatus();
    camera->onGetFlickStatus();
    EXPECT_EQ(contrast.at(0).at(0).toInt(), 48);
    EXPECT_EQ(camera->parameters().contrast.value, 48);
    EXPECT_EQ(gamma.at(0).at(0).toInt(), 7);
    EXPECT_FALSE(mono.at(0).at(0).toBool());
    EXPECT_TRUE(flick.at(0).at(0).toBool());

    // Unchanged values send nothing; the plain camera has no zoom or defog.
    from = mark();
    camera->onSetContrastValue(48);
    camera->onSetFilckStatus(true);
    camera->onSetZoomValue(3);
    camera->onSetDefogStatus(true);
    EXPECT_TRUE(commandsSince(from).empty());
}

TEST_F(NetCameraControls, MirrorAndFlipEachTravelInTheirOwnMember)
{
    auto camera = ready<NetCamera>("E530_IPC");
    // Each setter in each direction, with the other one on and off.
    struct Step {
        bool mirrorSetter;
        bool on;
        bool mirror, flip;  // the camera afterwards
    };
    const Step steps[] = {
        {true, true, true, false},   {false, true, true, true},   {true, false, false, true},
        {false, false, false, false}, {false, true, false, true},  {true, true, true, true},
        {false, false, true, false},  {true, false, false, false},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(std::string(step.mirrorSetter ? "mirror " : "flip ") + (step.on ? "on" : "off"));
        if (step.mirrorSetter)
            camera->onSetMirrorStatus(step.on);
        else
            camera->onSetFlipStatus(step.on);
        const QJsonObject sent = lastArgs("set_img_mirror_flip");
        EXPECT_EQ(sent.value("mirror"), QJsonValue(step.mirror));
        EXPECT_EQ(sent.value("flip"), QJsonValue(step.flip));
        EXPECT_EQ(camera->parameters().mirror, step.mirror);
        EXPECT_EQ(camera->parameters().flip, step.flip);
    }

    QSignalSpy mirror(camera.get(), &BaseCamera::sendMirrorStatus);
    QSignalSpy flip(camera.get(), &BaseCamera::sendFlipStatus);
    for (const auto &[mirrorOn, flipOn] : {std::pair{true, false}, std::pair{false, true}}) {
        sim.setGroup("mirror_flip", QJsonDocument(QJsonObject{{"mirror", mirrorOn}, {"flip", flipOn}})
                                        .toJson(QJsonDocument::Compact)
                                        .toStdString());
        mirror.clear();
        flip.clear();
        camera->onGetMirrorStatus();
        camera->onGetFlipStatus();
        EXPECT_EQ(mirror.value(0).value(0), QVariant(mirrorOn));
        EXPECT_EQ(flip.value(0).value(0), QVariant(flipOn));
        CameraParameters out;
        camera->refreshFromDevice(out);
        EXPECT_EQ(out.mirror, mirrorOn);
        EXPECT_EQ(out.flip, flipOn);
    }
}

TEST_F(NetCameraControls, RangeEndsReachTheDeviceAsTheyAre)
{
    auto camera = ready<NetCamera>("E530_IPC");
    NetCamera &c = *camera;
    const auto manualExposure = [&] { c.onSetExpMode(ExposureManual); };
    const auto autoExposure = [&] { c.onSetExpMode(ExposureAuto); };
    const auto manualBalance = [&] { c.onSetWbMode(WbManual); };
    struct Control {
        const char *name;
        ControlRange CameraParameters::*range;
        int minimum, maximum;  // as the panel is told after the refresh
        std::function<void()> prepare;
        void (NetCamera::*set)(int);
        const char *cmd;
        std::vector<const char *> members;  // where the value goes on the wire
    };
    // Exposure time, gain and gamma ranges are the simulated device's.
    const Control controls[] = {
        {"contrast", &CameraParameters::contrast, 0, 100, {}, &NetCamera::onSetContrastValue, "set_image",
         {"contrast"}},
        {"hue", &CameraParameters::hue, 0, 100, {}, &NetCamera::onSetHueValue, "set_image", {"hue"}},
        {"saturation", &CameraParameters::saturation, 0, 255, {}, &NetCamera::onSetSaturationValue, "set_image",
         {"saturation"}},
        {"sharpness", &CameraParameters::sharpness, 0, 15, {}, &NetCamera::onSetSharpnessValue, "set_image",
         {"sharpness"}},
        {"compensation", &CameraParameters::exposureCompensation, 0, 255, autoExposure, &NetCamera::onSetExpCompValue,
         "set_image", {"bright"}},
        {"time", &CameraParameters::exposureTime, 1, 1000, manualExposure, &NetCamera::onSetExpTime,
         "set_img_meexposure", {"shuttertime"}},
        {"gain", &CameraParameters::exposureGain, 0, 100, manualExposure, &NetCamera::onSetExpGainValue,
         "set_img_meexposure", {"a_gain"}},
        {"red", &CameraParameters::whiteBalanceRed, 1, 4095, manualBalance, &NetCamera::onSetWbRedValue, "set_img_awb",
         {"r"}},
        {"green", &CameraParameters::whiteBalanceGreen, 1, 4095, manualBalance, &NetCamera::onSetWbGreenValue,
         "set_img_awb", {"gb", "gr"}},
        {"blue", &CameraParameters::whiteBalanceBlue, 1, 4095, manualBalance, &NetCamera::onSetWbBlueValue,
         "set_img_awb", {"b"}},
        {"gamma", &CameraParameters::gamma, 0, 10, {}, &NetCamera::onSetGammaValue, "set_img_hdr_gamma", {"level"}},
    };
    for (const Control &control : controls) {
        SCOPED_TRACE(control.name);
        EXPECT_EQ((c.parameters().*control.range).minimum, control.minimum);
        EXPECT_EQ((c.parameters().*control.range).maximum, control.maximum);
        if (control.prepare)
            control.prepare();
        for (const int end : {control.maximum, control.minimum}) {
            const size_t from = mark();
            (c.*control.set)(end);
            EXPECT_FALSE(commandsSince(from).empty()) << end;
            for (const char *member : control.members)
                EXPECT_EQ(intAt(lastArgs(control.cmd), member), end) << member;
            EXPECT_EQ((c.parameters().*control.range).value, end);
        }
    }
    // Focus: 1 to 400 in the user's scale; the plain camera has no focus slots.
    EXPECT_EQ(c.parameters().focus.minimum, 1);
    EXPECT_EQ(c.parameters().focus.maximum, 400);
}

TEST_F(NetCameraControls, OnceFocusBecomesManualWhereTheCameraFocused)
{
    auto camera = ready<NetCamera>("E530_IPC");
    CameraParameters record = camera->parameters();
    record.focusMode = FocusOnce;
    camera->setParameters(record);
    sim.setGroup("image", R"({"focus_value": 140})");
    const size_t from = mark();
    camera->onSetContrastValue(70);
    EXPECT_EQ(commandsSince(from), (std::vector<std::string>{"get_image", "set_image"}));
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_mode"), 1);
    EXPECT_EQ(intAt(lastArgs("set_image"), "focus_value"), 140);
    EXPECT_EQ(camera->parameters().focusMode, FocusManual);
    EXPECT_EQ(camera->parameters().focus.value, 165);
}

TEST_F(NetCameraControls, IpConfigurationIsSentOnceAndOnlyWhenUsable)
{
    auto camera = ready<NetCamera>("E530_IPC");
    QSignalSpy info(camera.get(), &BaseCamera::sendIpInfo);
    camera->onGetIpInfo();
    ASSERT_EQ(info.count(), 1);
    EXPECT_EQ(info.at(0).at(0).value<IpInfo>().ip, "10.253.0.1");

    IpInfo fixed;
    fixed.ip = "10.253.0.9";
    fixed.netmask = "255.255.255.0";
    fixed.gateway = "10.253.0.254";
    camera->onSetIp(fixed);
    EXPECT_EQ(group("ipv4").value("ip").toString(), "10.253.0.9");
    size_t from = mark();
    camera->onSetIp(fixed);
    EXPECT_TRUE(commandsSince(from).empty());

    IpInfo broken = fixed;
    broken.ip = "10.253.0.300";
    camera->onSetIp(broken);
    broken.ip = "10.253.0.10\",\"dhcp\":true";
    camera->onSetIp(broken);
    EXPECT_TRUE(commandsSince(from).empty());

    IpInfo dhcp;
    dhcp.dhcp = true;
    camera->onSetIp(dhcp);
    EXPECT_TRUE(group("ipv4").value("dhcp").toBool());
}

TEST_F(NetCameraControls, UpgradeSendsTheFileAndReportsItsProgress)
{
    auto camera = ready<W710NetCamera>("W710_IPC");
    QTemporaryDir folder;
    const QString path = folder.path() + "/update_w710_v2.qpk";
    QByteArray firmware(100 * 1024 + 17, '\0');
    for (int i = 0; i < firmware.size(); ++i)
        firmware[i] = char(i * 7 + i / 251);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(firmware);
    file.close();
    EXPECT_TRUE(camera->upgradeFirmware(path, nullptr));

    QSignalSpy status(camera.get(), &BaseCamera::sendUpgradeStatus);
    camera->onUpgrade(path);
    EXPECT_EQ(status.count(), 0);  // accepted: progress comes by asking
    ASSERT_TRUE(waitFor(
        [&] {
            camera->onGetUpgradeStatus();
            return !status.isEmpty() && status.last().at(0).toString() == "done";
        },
        20000));
    EXPECT_EQ(status.last().at(1).toDouble(), 100.0);
    EXPECT_EQ(QByteArray::fromStdString(sim.upgradeData()), firmware);

    // A file the library cannot send is reported at once.
    camera->onUpgrade(folder.path() + "/update_w710_missing.qpk");
    EXPECT_EQ(status.last().at(0).toString(), "");
    EXPECT_EQ(status.last().at(1).toDouble(), -1.0);
}

TEST_F(NetCameraControls, UnsupportedSlotsSendNothing)
{
    auto camera = ready<NetCamera>("E530_IPC");
    LogCatcher log;
    const size_t from = mark();
    camera->onSetFocusMode(FocusManual);
    camera->onSetFocusValue(100);
    camera->onGetFocusValue();
    camera->onSetFocusRegion(1, 1);
    camera->onSetMotorCenter();
    camera->onSetCameraDisplayMode(DisplayMetallography);
    camera->onSaveCameraConfig();
    EXPECT_TRUE(commandsSince(from).empty());
    EXPECT_TRUE(log.contains("Current camera does not support to set focus mode!"));
    EXPECT_TRUE(log.contains("NetCamera does not support save camera config!"));
}

// ---- refused and unanswered requests ----

TEST_F(NetCameraFailures, OnlyAnAcceptedReplyChangesTheRecordOrReachesThePanel)
{
    auto camera = ready<NetCamera>("E530_IPC");
    QSignalSpy hue(camera.get(), &BaseCamera::sendHueValue);
    // "code" at the top of a reply and inside the command's object (null:
    // left out), as devices write them.
    struct Shape {
        const char *top;
        const char *inner;
        bool accepted;
    };
    const Shape shapes[] = {
        {"0", "0", true},
        {nullptr, nullptr, true},
        {"\"0\"", nullptr, true},
        {"4099", nullptr, false},
        {"0", "4100", false},
        {nullptr, "\"4101\"", false},
        {"\"busy\"", nullptr, false},
        {nullptr, "\"\"", false},
        {"true", nullptr, false},
        {"null", nullptr, false},
        {nullptr, "{}", false},
        {"0.5", nullptr, false},
    };
    const auto reply = [](const QString &cmd, const Shape &shape, const QString &member) {
        QStringList inner;
        if (shape.inner)
            inner << QStringLiteral("\"code\":") + shape.inner;
        if (!member.isEmpty())
            inner << member;
        QString text = "{\"cmd\":\"" + cmd + "\",";
        if (shape.top)
            text += QStringLiteral("\"code\":") + shape.top + ",";
        return (text + "\"" + cmd + "\":{" + inner.join(',') + "}}").toStdString();
    };
    int contrast = camera->parameters().contrast.value;
    for (const Shape &shape : shapes) {
        SCOPED_TRACE(reply("x", shape, {}));
        sim.queueReply(simcam::Reply::answer(reply("set_image", shape, {})));
        camera->onSetContrastValue(contrast + 1);
        if (shape.accepted)
            ++contrast;
        EXPECT_EQ(camera->parameters().contrast.value, contrast);

        hue.clear();
        sim.queueReply(simcam::Reply::answer(reply("get_image", shape, "\"hue\":77")));
        camera->onGetHueValue();
        ASSERT_EQ(hue.count(), shape.accepted ? 1 : 0);
        if (shape.accepted) {
            EXPECT_EQ(hue.at(0).at(0).toInt(), 77);
        }
    }

    // Accepted, but without the value or with one of another type.
    hue.clear();
    sim.queueReply(simcam::Reply::answer(R"({"cmd":"get_image","code":0,"get_image":{"code":0}})"));
    sim.queueReply(simcam::Reply::answer(R"({"cmd":"get_image","code":0,"get_image":{"hue":"77"}})"));
    sim.queueReply(simcam::Reply::answer(R"({"cmd":"get_image","code":0})"));
    for (int i = 0; i < 3; ++i)
        camera->onGetHueValue();
    EXPECT_EQ(hue.count(), 0);
    QSignalSpy info(camera.get(), &BaseCamera::sendIpInfo);
    sim.queueReply(simcam::Reply::answer(R"({"cmd":"ipv4","ipv4":{"ip":"1.2.3.4"}})"));
    camera->onGetIpInfo();
    EXPECT_EQ(info.count(), 0);
}

TEST_F(NetCameraFailures, EverySetterKeepsTheOldValueWhenRefusedAndSendsItAgain)
{
    auto camera = ready<NetCamera>("E530_IPC");
    NetCamera &c = *camera;
#define HELD(member) [](const CameraParameters &p) { return int(p.member); }
    struct Setter {
        const char *name;
        std::function<void()> set;
        std::function<int(const CameraParameters &)> held;
        int wanted;
    };
    // In this order: gain, time and the gains need manual mode, the
    // compensation auto exposure.
    const Setter setters[] = {
        {"exposure mode", [&] { c.onSetExpMode(ExposureManual); }, HELD(exposureMode), ExposureManual},
        {"gain", [&] { c.onSetExpGainValue(9); }, HELD(exposureGain.value), 9},
        {"time", [&] { c.onSetExpTime(400); }, HELD(exposureTime.value), 400},
        {"exposure mode back", [&] { c.onSetExpMode(ExposureAuto); }, HELD(exposureMode), ExposureAuto},
        {"compensation", [&] { c.onSetExpCompValue(90); }, HELD(exposureCompensation.value), 90},
        {"white balance mode", [&] { c.onSetWbMode(WbManual); }, HELD(whiteBalanceMode), WbManual},
        {"red", [&] { c.onSetWbRedValue(700); }, HELD(whiteBalanceRed.value), 700},
        {"green", [&] { c.onSetWbGreenValue(300); }, HELD(whiteBalanceGreen.value), 300},
        {"blue", [&] { c.onSetWbBlueValue(500); }, HELD(whiteBalanceBlue.value), 500},
        {"white balance mode back", [&] { c.onSetWbMode(WbAuto); }, HELD(whiteBalanceMode), WbAuto},
        {"mirror", [&] { c.onSetMirrorStatus(true); }, HELD(mirror), 1},
        {"flip", [&] { c.onSetFlipStatus(true); }, HELD(flip), 1},
        {"flicker", [&] { c.onSetFilckStatus(true); }, HELD(flickerOn), 1},
        {"gamma", [&] { c.onSetGammaValue(5); }, HELD(gamma.value), 5},
        {"contrast", [&] { c.onSetContrastValue(70); }, HELD(contrast.value), 70},
        {"hue", [&] { c.onSetHueValue(60); }, HELD(hue.value), 60},
        {"saturation", [&] { c.onSetSaturationValue(90); }, HELD(saturation.value), 90},
        {"sharpness", [&] { c.onSetSharpnessValue(12); }, HELD(sharpness.value), 12},
        {"monochrome", [&] { c.onSetMonoChromeStatus(true); }, HELD(saturation.value), 0},
        {"colour", [&] { c.onSetMonoChromeStatus(false); }, HELD(saturation.value), 90},
    };
#undef HELD
    for (const Setter &setter : setters) {
        SCOPED_TRACE(setter.name);
        const int before = setter.held(c.parameters());
        ASSERT_NE(before, setter.wanted);
        sim.queueReply(simcam::Reply::refuse(4099));
        size_t from = mark();
        setter.set();
        EXPECT_FALSE(commandsSince(from).empty());
        EXPECT_EQ(setter.held(c.parameters()), before);
        from = mark();
        setter.set();
        EXPECT_FALSE(commandsSince(from).empty());
        EXPECT_EQ(setter.held(c.parameters()), setter.wanted);
    }
}

TEST_F(NetCameraFailures, SilentDeviceTimesOutAndNothingIsCached)
{
    auto camera = ready<NetCamera>("E530_IPC");
    QSignalSpy hue(camera.get(), &BaseCamera::sendHueValue);
    sim.queueReply(simcam::Reply::silent());
    sim.queueReply(simcam::Reply::silent());
    camera->onSetHueValue(80);
    camera->onGetHueValue();
    EXPECT_EQ(camera->parameters().hue.value, 50);
    EXPECT_EQ(hue.count(), 0);

    // A refresh stops asking once the device has stopped answering.
    sim.queueReply(simcam::Reply::silent());
    CameraParameters out;
    out.contrast.value = 33;
    const size_t from = mark();
    EXPECT_FALSE(camera->refreshFromDevice(out));
    EXPECT_EQ(commandsSince(from), std::vector<std::string>{"system"});
    EXPECT_EQ(out.contrast.value, 33);
}

// ---- stream ----

TEST_F(NetCameraStream, PicturesOfTheStreamSizeComeThrough)
{
    auto camera = ready<E530NetCamera>("E530_IPC");
    CameraOpenSettings open = settings();
    open.network.width = 320;
    open.network.height = 240;
    open.network.fps = 25;
    ASSERT_TRUE(camera->open(open));
    const QJsonObject stream = lastArgs("set_stream");
    EXPECT_EQ(stream.value("fmt").toString(), "mjpeg");
    EXPECT_EQ(stream.value("wh").toString(), "320*240");
    EXPECT_EQ(stream.value("rc_mode").toString(), "cbr");
    EXPECT_EQ(stream.value("quality").toString(), "high");
    EXPECT_EQ(intAt(stream, "i_interval"), 90);
    EXPECT_EQ(intAt(stream, "frame_rate"), 25);
    EXPECT_EQ(intAt(stream, "bitrate"), 86000);

    auto pictures = [&](int width, int height, int count) {
        int seen = 0, other = 0;
        waitFor(
            [&] {
                const VideoFrame frame = camera->getVideoFrameData();
                if (frame.size() != 0)
                    ++(frame.width() == width && frame.height() == height ? seen : other);
                return seen >= count;
            },
            10000);
        EXPECT_EQ(other, 0);
        return seen;
    };
    EXPECT_EQ(pictures(320, 240, 5), 5);

    // After a new size only pictures of that size are handed out.
    open.network.width = 160;
    open.network.height = 120;
    ASSERT_TRUE(camera->reopen(open));
    EXPECT_EQ(lastArgs("set_stream").value("wh").toString(), "160*120");
    EXPECT_EQ(pictures(160, 120, 5), 5);

    EXPECT_TRUE(camera->close());
    EXPECT_EQ(camera->loginId(), 0);
    EXPECT_EQ(trovix_dec_open(NetCamera::kDecoderId, nullptr), 0);  // the decoder was closed
    trovix_dec_close(NetCamera::kDecoderId);
}

TEST_F(NetCameraStream, RefusedStreamSettingsFailOpenAndCloseTheDecoder)
{
    auto camera = ready<E530NetCamera>("E530_IPC");
    sim.queueReply(simcam::Reply::refuse(4099));
    EXPECT_FALSE(camera->open(settings()));
    EXPECT_EQ(trovix_dec_open(NetCamera::kDecoderId, nullptr), 0);
    trovix_dec_close(NetCamera::kDecoderId);

    sim.queueReply(simcam::Reply::answer());
    sim.queueReply(simcam::Reply::refuse(4099));
    EXPECT_FALSE(camera->open(settings()));
    EXPECT_EQ(sim.streamingClients(), 0);
    EXPECT_EQ(trovix_dec_open(NetCamera::kDecoderId, nullptr), 0);
    trovix_dec_close(NetCamera::kDecoderId);

    // A refused reopen ends the stream: the decoder is closed.
    ASSERT_TRUE(camera->open(settings()));
    sim.queueReply(simcam::Reply::refuse(4099));
    EXPECT_FALSE(camera->reopen(settings()));
    EXPECT_EQ(trovix_dec_open(NetCamera::kDecoderId, nullptr), 0);
    trovix_dec_close(NetCamera::kDecoderId);
}

TEST_F(NetCameraStream, FailedBindClosesTheDecoderItOpened)
{
    auto camera = ready<E530NetCamera>("E530_IPC");
    // Another decoder already listens to this login's stream.
    ASSERT_EQ(trovix_dec_open(101, nullptr), 0);
    ASSERT_EQ(trovix_dec_bind(101, camera->loginId(), 0, 0, 0), 0);
    LogCatcher log;
    EXPECT_FALSE(camera->open(settings()));
    EXPECT_TRUE(log.contains("Bind decoder failed!"));
    EXPECT_EQ(camera->loginId(), 0);
    EXPECT_EQ(trovix_dec_open(NetCamera::kDecoderId, nullptr), 0);
    trovix_dec_close(NetCamera::kDecoderId);
    trovix_dec_close(101);
}

TEST_F(NetCameraStream, SecondCameraCannotTakeTheDecoderAndDroppingOneFreesIt)
{
    auto first = ready<E530NetCamera>("E530_IPC");
    auto second = ready<E530NetCamera>("E530_IPC");
    ASSERT_TRUE(first->open(settings()));
    LogCatcher log;
    EXPECT_FALSE(second->open(settings()));
    EXPECT_TRUE(log.contains("Create decoder failed!"));
    second.reset();  // its failed open must not close the first one's decoder
    EXPECT_EQ(trovix_dec_open(NetCamera::kDecoderId, nullptr), 4);
    first.reset();   // dropped without close: decoder and login end with it
    EXPECT_EQ(trovix_dec_open(NetCamera::kDecoderId, nullptr), 0);
    trovix_dec_close(NetCamera::kDecoderId);
}

TEST_F(NetCameraStream, CameraClosingMidStreamEndsTheCaptureAsDisconnected)
{
    auto made = ready<E530NetCamera>("E530_IPC");
    QSharedPointer<BaseCamera> camera(made.release());
    CameraOpenSettings open = settings();
    open.network.width = 320;
    open.network.height = 240;
    camera->setOpenSettings(open);
    CameraPlayThread thread;
    thread.setCaptureCamera(camera);
    QSignalSpy closed(&thread, &CameraPlayThread::CameraCloseForReason);
    thread.setRunFlag(true);
    thread.start();
    ASSERT_TRUE(waitFor([&] { return thread.receivedFrameCount() >= 3; }, 10000));
    sim.closeClients();
    ASSERT_TRUE(thread.wait(15000));
    QCoreApplication::processEvents();
    ASSERT_EQ(closed.count(), 1);
    EXPECT_EQ(closed.at(0).at(0).toString(), "127.0.0.1");
    EXPECT_EQ(closed.at(0).at(1).value<CameraCloseReason>(), CloseDisconnected);

    // The connection is gone: requests fail at once and nothing is cached.
    auto *net = static_cast<NetCamera *>(camera.data());
    QSignalSpy hue(net, &BaseCamera::sendHueValue);
    net->onGetHueValue();
    net->onSetHueValue(90);
    EXPECT_EQ(hue.count(), 0);
    EXPECT_EQ(net->parameters().hue.value, 50);
}

// ---- bring-up ----

TEST_F(NetCameraLogin, BringUpRunsOnTheControlThreadAndAnswersOnTheCallers)
{
    QThread control;
    control.start();
    sim.setModel("Y260_IPC");
    QSharedPointer<BaseCamera> camera;
    bool done = false;
    QThread *answeredOn = nullptr;
    QObject context;
    bringUpNetworkCamera(&control, settings(), &context, [&](QSharedPointer<BaseCamera> made, CameraCloseReason) {
        camera = made;
        answeredOn = QThread::currentThread();
        done = true;
    });
    EXPECT_FALSE(done);
    ASSERT_TRUE(waitFor([&] { return done; }, 10000));
    ASSERT_TRUE(camera);
    EXPECT_NE(qobject_cast<Y260NetCamera *>(camera.data()), nullptr);
    EXPECT_EQ(camera->thread(), &control);
    EXPECT_EQ(answeredOn, QThread::currentThread());
    EXPECT_EQ(camera->uniqueName(), "Y260_IPC@127.0.0.1");
    EXPECT_EQ(camera->getOpenSettings().network.port, settings().network.port);
    camera.reset();

    // A camera that does not answer keeps the caller's thread free meanwhile.
    sim.setLoginReply(simcam::Reply::silent());
    done = false;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    CameraCloseReason reason = CloseDone;
    bringUpNetworkCamera(&control, settings(), &context, [&](QSharedPointer<BaseCamera> made, CameraCloseReason why) {
        camera = made;
        reason = why;
        done = true;
    });
    ASSERT_TRUE(waitFor([&] { return done; }, 15000));
    EXPECT_FALSE(camera);
    // Not an unsupported model: the camera could not be opened.
    EXPECT_EQ(reason, CloseOpenFailed);
    EXPECT_GT(ticks, 20);
    control.quit();
    control.wait();
}

// ---- discovery ----

TEST(NetCameraDiscovery, ListsOnlyUsableAddressesOnce)
{
    const QByteArray list = R"([
        {"ip": "10.253.0.7", "sn": "SN-1", "discover": {"model": "W710_IPC", "port": 8080}},
        {"ip": "10.253.0.8", "sn": "SN-2", "discover": {"port": 70000}},
        {"ip": "10.253.0.7", "sn": "SN-3"},
        {"ip": "1.2.3"}, {"ip": "01.2.3.4"}, {"ip": "0.1.2.3"}, {"ip": "224.0.0.1"},
        {"ip": "255.255.255.255"}, {"ip": "10.0.0.1;rm"}, {"ip": 7}, {"sn": "no address"}, 5, "x"
    ])";
    const QList<DiscoveredCamera> cameras = parseDiscoveredCameras(list);
    ASSERT_EQ(cameras.size(), 2);
    EXPECT_EQ(cameras[0].address, "10.253.0.7");
    EXPECT_EQ(cameras[0].serial, "SN-1");
    EXPECT_EQ(cameras[0].model, "W710_IPC");
    EXPECT_EQ(cameras[0].port, 8080);
    EXPECT_EQ(cameras[1].address, "10.253.0.8");
    EXPECT_EQ(cameras[1].port, 0);
    EXPECT_TRUE(parseDiscoveredCameras("not json").isEmpty());
    EXPECT_TRUE(parseDiscoveredCameras("{\"ip\":\"10.0.0.1\"}").isEmpty());
    EXPECT_TRUE(parseDiscoveredCameras(QByteArray()).isEmpty());
}

TEST(NetCameraDiscovery, RunsInsideItsOwnNetworkNamespace)
{
    if (inPrivateNetwork())
        GTEST_SKIP() << "already inside the namespace";
    const NamespaceRun run = runInPrivateNetwork("NetCameraInNamespace.*");
    if (!run.ran)
        GTEST_SKIP() << run.why;
    EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
    EXPECT_EQ(run.status, 0);
}

// Inside the namespace: the simulated camera is found by discovery, listed by
// its address, and opened as the device list would open it; the serial
// number discovery reported keys its row.
TEST(NetCameraInNamespace, DiscoveredCameraIsListedAndOpensByItsAddress)
{
    if (!inPrivateNetwork())
        GTEST_SKIP() << "runs only inside its own network namespace";
    registerCameraMetaTypes();
    QTemporaryDir folder;
    ASSERT_EQ(CameraDatabase::instance().openOrCreate(folder.path() + "/setting.db"), CameraDatabase::OpenResult::Opened);
    simcam::SimCamera sim;
    sim.setModel("W710_IPC");
    const uint16_t port = sim.start(0, kPrivateAddress);
    ASSERT_NE(port, 0);
    simcam::SimDiscovery discovery;
    ASSERT_TRUE(discovery.start(57975, simcam::discoveryAnswer("SIM-5", "W710_IPC", port)));
    startDeviceSdk();
    QStringList addresses;
    EXPECT_TRUE(waitFor([&] { return !(addresses = discoverNetworkCameras()).isEmpty(); }, 8000));
    EXPECT_EQ(addresses, QStringList{kPrivateAddress});

    CameraOpenSettings open = networkOpenSettings(addresses.value(0));
    open.network.port = QString::number(port);
    EXPECT_EQ(getCameraModel(open), "W710_IPC");
    QSharedPointer<BaseCamera> camera = createCamera(getCameraModel(open));
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->login(open));
    EXPECT_EQ(camera->uniqueName(), "W710_IPC@SIM-5");
    camera.reset();
    shutdownDeviceSdk();
    CameraDatabase::instance().close();
}
