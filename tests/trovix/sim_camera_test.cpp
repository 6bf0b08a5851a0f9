// The simulated camera as the library sees it: getters answer from its
// device state, setters change it, a refused request changes nothing.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <string>
#include <vector>

#include "sim_camera.h"
#include "test_util.h"
#include "trovix.h"

namespace {

class SimulatedCamera : public trovixtest::CameraSession {
protected:
    // The number or text at cmd.member of the answer to a request.
    std::string ask(const std::string &request, const std::vector<std::string> &path, int *code = nullptr)
    {
        char *reply = nullptr;
        int c = trovix_request(id, request.c_str(), &reply);
        if (code)
            *code = c;
        cJSON *root = reply ? cJSON_Parse(reply) : nullptr;
        trovix_free(reply);
        const cJSON *node = root;
        for (const auto &key : path)
            node = node ? cJSON_GetObjectItemCaseSensitive(node, key.c_str()) : nullptr;
        std::string out = cJSON_IsString(node) ? node->valuestring
                          : cJSON_IsBool(node) ? (cJSON_IsTrue(node) ? "true" : "false")
                          : cJSON_IsNumber(node) ? std::to_string(node->valueint)
                                                 : "";
        cJSON_Delete(root);
        return out;
    }
};

} // namespace

TEST_F(SimulatedCamera, SettersChangeWhatGettersAnswer)
{
    const std::string getImage = "{\"cmd\":\"get_image\",\"get_image\":{\"chnn\":0,\"idx\":1000}}";
    EXPECT_EQ(ask("{\"cmd\":\"system\"}", { "system", "model" }), "E530_IPC");
    EXPECT_EQ(ask(getImage, { "get_image", "contrast" }), "50");
    EXPECT_EQ(ask(getImage, { "get_image", "range", "ezoom_value", "max" }), "174");
    EXPECT_EQ(ask("{\"cmd\":\"set_image\",\"set_image\":{\"chnn\":0,\"contrast\":61,\"hue\":\"text\",\"new\":1}}",
                  { "set_image", "code" }),
              "0");
    EXPECT_EQ(ask(getImage, { "get_image", "contrast" }), "61");
    EXPECT_EQ(ask(getImage, { "get_image", "hue" }), "50"); // another type: ignored
    EXPECT_EQ(ask(getImage, { "get_image", "new" }), "");   // not a setting of the camera

    ask("{\"cmd\":\"set_img_awb\",\"set_img_awb\":{\"chnn\":0,\"awb\":\"manual\",\"b\":400,\"gb\":250,\"gr\":250,"
        "\"r\":600}}",
        {});
    EXPECT_EQ(ask("{\"cmd\":\"img_awb\",\"img_awb\":{\"chnn\":0}}", { "img_awb", "awb" }), "manual");
    EXPECT_EQ(ask("{\"cmd\":\"info_img_awb\",\"info_img_awb\":{\"chnn\":0}}", { "info_img_awb", "r" }), "600");
    ask("{\"cmd\":\"set_img_mirror_flip\",\"set_img_mirror_flip\":{\"chnn\":0,\"flip\":true,\"mirror\":false}}", {});
    EXPECT_EQ(ask("{\"cmd\":\"img_mirror_flip\",\"img_mirror_flip\":{\"chnn\":0}}", { "img_mirror_flip", "flip" }),
              "true");
    EXPECT_NE(camera.group("mirror_flip").find("\"flip\":true"), std::string::npos);
    // A request the camera has no entry for is answered with code 0 and its echo.
    EXPECT_EQ(ask("{\"cmd\":\"get_other\",\"tag\":\"x\"}", { "echo", "tag" }), "x");
}

TEST_F(SimulatedCamera, RefusedRequestChangesNothing)
{
    camera.queueReply(simcam::Reply::refuse(4099));
    int code = -1;
    EXPECT_EQ(ask("{\"cmd\":\"set_img_hdr_gamma\",\"set_img_hdr_gamma\":{\"chnn\":0,\"level\":7}}",
                  { "set_img_hdr_gamma", "code" }, &code),
              "4099");
    EXPECT_EQ(code, 0); // the library passes the device's answer on; its code is inside
    EXPECT_EQ(ask("{\"cmd\":\"img_hdr_gamma\",\"img_hdr_gamma\":{\"chnn\":0,\"idx\":0}}", { "img_hdr_gamma", "level" }),
              "1");
    camera.setModel("W620_IPC \"quoted\"");
    EXPECT_EQ(ask("{\"cmd\":\"system\"}", { "system", "model" }), "W620_IPC \"quoted\"");
}
