// The network camera tests' fixture: the simulated camera on 127.0.0.1, the
// device library started, a temporary camera database, and readers of what
// the camera received.
#pragma once

#include "camera_test_support.h"
#include "private_network.h"
#include "sim_camera.h"
#include "test_support.h"
#include "trovix.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

// A number member of a request or reply object (-99999 when missing).
inline int intAt(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toInt(-99999);
}

class NetCameraFixture : public DatabaseTest
{
protected:
    void SetUp() override
    {
        DatabaseTest::SetUp();
        registerCameraMetaTypes();
        port = sim.start();
        ASSERT_NE(port, 0);
        ASSERT_EQ(trovix_init(""), 0);
    }
    void TearDown() override
    {
        trovix_quit();
        sim.stop();
        DatabaseTest::TearDown();
    }

    CameraOpenSettings settings() const
    {
        CameraOpenSettings open = networkOpenSettings(QStringLiteral("127.0.0.1"));
        open.network.port = QString::number(port);
        return open;
    }

    // A camera of the model class, logged in to the simulated camera that
    // reports `model`.
    template <typename Model>
    std::unique_ptr<Model> loggedIn(const char *model)
    {
        sim.setModel(model);
        auto camera = std::make_unique<Model>();
        camera->setOpenSettings(settings());
        EXPECT_TRUE(camera->login(settings())) << model;
        return camera;
    }
    // Logged in and refreshed, with the record as its own (as the panel does).
    template <typename Model>
    std::unique_ptr<Model> ready(const char *model)
    {
        auto camera = loggedIn<Model>(model);
        CameraParameters record;
        EXPECT_TRUE(camera->queryParameters(record));
        camera->initSettingsPanel(record, 0, true);
        return camera;
    }

    // Requests received so far; since(mark) gives the commands after it.
    size_t mark() { return sim.received().size(); }
    std::vector<std::string> commandsSince(size_t from)
    {
        const std::vector<std::string> all = sim.commands();
        return std::vector<std::string>(all.begin() + std::min(from, all.size()), all.end());
    }
    // The arguments of the last request named `cmd` (empty when none came).
    QJsonObject lastArgs(const QString &cmd)
    {
        QJsonObject found;
        for (const std::string &text : sim.received()) {
            const QJsonObject request = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
            if (request.value(QStringLiteral("cmd")).toString() == cmd)
                found = request.value(cmd).toObject();
        }
        return found;
    }
    QJsonObject group(const char *name)
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(sim.group(name))).object();
    }

    simcam::SimCamera sim;
    uint16_t port = 0;
};
