// The seven network camera models. Each supplies its default database row
// and resolutions, adjusts what the device refresh reports (capabilities,
// ranges and defaults) and takes over the slots where its hardware differs:
// focus and focus region on the E-series, display mode on the Y260, zoom,
// defog and focus steps on the W-series.
#pragma once

#include "net_camera.h"

class E530NetCamera : public NetCamera
{
    Q_OBJECT
public:
    explicit E530NetCamera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;
    bool refreshFromDevice(CameraParameters &out) override;

public slots:
    void onSetFocusMode(FocusMode mode) override;
    void onSetFocusValue(int value) override;
    void onSetFocusOnce() override;
    void onSetFocusRegionStatus(bool enable) override;
    void onSetFocusRegion(int x, int y) override;
    void onSetMotorCenter() override;
    void onGetFocusMode() override;
    void onGetFocusValue() override;
    void onGetFocusRegionStatus() override;
    void onGetFocusRegion() override;
};

class E520NetCamera : public E530NetCamera
{
    Q_OBJECT
public:
    explicit E520NetCamera(QObject *parent = nullptr);
};

class E540NetCamera : public E530NetCamera
{
    Q_OBJECT
public:
    explicit E540NetCamera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;
    bool refreshFromDevice(CameraParameters &out) override;
};

class Y260NetCamera : public NetCamera
{
    Q_OBJECT
public:
    explicit Y260NetCamera(QObject *parent = nullptr);
    bool refreshFromDevice(CameraParameters &out) override;
    // Contrast and gamma defaults of the record's display mode: Default 60
    // and 1, Metallography 55 and 3.
    void applyDisplayModeLimits() override;
    static void applyDisplayModeLimits(CameraParameters &record);

public slots:
    void onSetCameraDisplayMode(DisplayMode mode) override;
    void onGetCameraDisplayMode() override;
};

// The W-series moves its focus motor in steps and has one zoom value on the
// device: optical zoom up to opticalZoomLimit, digital zoom beyond it.
class W710NetCamera : public NetCamera
{
    Q_OBJECT
public:
    explicit W710NetCamera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;
    bool loadSettingsFromDb(CameraParameters &out) override;
    bool refreshFromDevice(CameraParameters &out) override;

    virtual int opticalZoomLimit() const { return 144; }
    virtual int digitalZoomMaximum() const { return 30; }

public slots:
    void onSetFocusMode(FocusMode mode) override;
    void onSetFocusAdd() override;
    void onSetFocusSub() override;
    void onSetDZoomValue(int value) override;
    void onSetZoomValue(int value) override;
    void onSetDefogStatus(bool enable) override;
    void onGetDZoomValue() override;
    void onGetZoomValue() override;
    void onGetDefogStatus() override;

protected:
    // Image requests never move the focus motor ("focus_value" 0); once
    // becomes manual where the motor stands.
    bool imageFocus(CameraParameters &next, bool plainFocusCode, int &modeCode, int &deviceFocusValue) override;
    // White-balance and gamma defaults of the model.
    virtual void setSeriesDefaults(CameraParameters &out) const;

private:
    void stepFocus(const char *slotName, int step);
};

class W620NetCamera : public W710NetCamera
{
    Q_OBJECT
public:
    explicit W620NetCamera(QObject *parent = nullptr);
    int opticalZoomLimit() const override { return 130; }
    int digitalZoomMaximum() const override { return 50; }

protected:
    void setSeriesDefaults(CameraParameters &out) const override;
};

class W640NetCamera : public W620NetCamera
{
    Q_OBJECT
public:
    explicit W640NetCamera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;
    bool refreshFromDevice(CameraParameters &out) override;

protected:
    void setSeriesDefaults(CameraParameters &out) const override;
};
