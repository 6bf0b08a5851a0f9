// One class per USB camera model. Each supplies its default database row,
// its resolutions and stream formats, its parameter query (model id, ranges,
// defaults and capability flags, partly read from the device) and the slots
// where its hardware differs from the plain USB camera.
#pragma once

#include "uvc_camera.h"

#include <atomic>

class R480Camera : public UvcCamera
{
    Q_OBJECT
public:
    explicit R480Camera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;
    // While a flip or mirror change settles, 20 reads give no picture.
    VideoFrame getVideoFrameData() override;
    static constexpr int kDroppedAfterFlip = 20;

public slots:
    void onSetFlipStatus(bool enable) override;
    void onSetMirrorStatus(bool enable) override;
    void onSetExpMode(ExposureMode mode) override;
    void onSetGammaValue(int value) override;
    void onSetWhiteBalanceOnce() override;
    void onResetAdvancedSettings() override;

protected:
    void fillParameters(CameraParameters &out) override;

private:
    std::atomic<int> dropFrames_{0};
    std::atomic<int> droppedCount_{0};
};

class E150Camera : public UvcCamera
{
    Q_OBJECT
public:
    explicit E150Camera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;

public slots:
    void onSetFocusMode(FocusMode mode) override;
    void onSetFocusValue(int value) override;
    void onSetFocusOnce() override;
    void onSetFocusRegion(int x, int y) override;
    void onSetMotorCenter() override;
    void onGetFocusMode() override;
    void onGetFocusValue() override;
    void onGetFocusRegion() override;
    void onResetAdvancedSettings() override;

protected:
    void fillParameters(CameraParameters &out) override;
};

class E170Camera : public E150Camera
{
    Q_OBJECT
public:
    explicit E170Camera(QObject *parent = nullptr);

protected:
    void fillParameters(CameraParameters &out) override;
};

class V330Camera : public UvcCamera
{
    Q_OBJECT
public:
    explicit V330Camera(QObject *parent = nullptr);
    // Needs the Windows 10 driver on Windows; nothing limits it elsewhere.
    bool isSystemSupported() override;

protected:
    void fillParameters(CameraParameters &out) override;
    void setBoardToRecord(const CameraParameters &record) override;
};

class V350Camera : public V330Camera
{
    Q_OBJECT
public:
    explicit V350Camera(QObject *parent = nullptr);

protected:
    void fillParameters(CameraParameters &out) override;
};

class V370Camera : public V350Camera
{
    Q_OBJECT
public:
    explicit V370Camera(QObject *parent = nullptr);

protected:
    void fillParameters(CameraParameters &out) override;
};

class V390Camera : public V370Camera
{
    Q_OBJECT
public:
    explicit V390Camera(QObject *parent = nullptr);

protected:
    void fillParameters(CameraParameters &out) override;
};

class E530UCamera : public V330Camera
{
    Q_OBJECT
public:
    explicit E530UCamera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;

public slots:
    void onSetFocusMode(FocusMode mode) override;
    void onSetFocusValue(int value) override;
    void onSetFocusOnce() override;
    void onSetFocusRegion(int x, int y) override;
    void onSetMotorCenter() override;
    void onGetFocusMode() override;
    void onGetFocusValue() override;
    void onGetFocusRegion() override;

protected:
    void fillParameters(CameraParameters &out) override;
    void setBoardToRecord(const CameraParameters &record) override;
};

class E520UCamera : public E530UCamera
{
    Q_OBJECT
public:
    explicit E520UCamera(QObject *parent = nullptr);

protected:
    void fillParameters(CameraParameters &out) override;
};

class E540UCamera : public E530UCamera
{
    Q_OBJECT
public:
    explicit E540UCamera(QObject *parent = nullptr);

protected:
    void fillParameters(CameraParameters &out) override;
};

class W610UCamera : public UvcCamera
{
    Q_OBJECT
public:
    explicit W610UCamera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;

public slots:
    void onSetFocusMode(FocusMode mode) override;
    void onSetZoomValue(int value) override;
    void onSetDZoomValue(int value) override;
    void onGetZoomValue() override;
    void onGetDZoomValue() override;
    void onSetDefogStatus(bool enable) override;
    void onGetDefogStatus() override;
    void onSetFocusAdd() override;
    void onSetFocusSub() override;
    void onValidateCurve() override;
    void onCalibrateCurve() override;
    void onResetAdvancedSettings() override;

protected:
    void fillParameters(CameraParameters &out) override;
    // The board has one zoom value: optical zoom up to the limit, digital
    // zoom beyond it.
    virtual int opticalZoomLimit() const { return 140; }
    virtual int digitalZoomMaximum() const { return 50; }
};

class W710UCamera : public W610UCamera
{
    Q_OBJECT
public:
    explicit W710UCamera(QObject *parent = nullptr);
    void initSettingsPanel(const CameraParameters &params, int value, bool skipApply) override;

public slots:
    void onCalibrateCurve() override;

protected:
    void fillParameters(CameraParameters &out) override;
    void setBoardToRecord(const CameraParameters &record) override;
    int opticalZoomLimit() const override { return 144; }
    int digitalZoomMaximum() const override { return 30; }
    // Splits the device's single zoom value at the optical limit.
    void splitZoom(CameraParameters &out);
};

class W620UCamera : public W710UCamera
{
    Q_OBJECT
public:
    explicit W620UCamera(QObject *parent = nullptr);

protected:
    void fillParameters(CameraParameters &out) override;
    int opticalZoomLimit() const override { return 130; }
    int digitalZoomMaximum() const override { return 50; }
};
