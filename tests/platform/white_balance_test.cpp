// White-balance components of the control calls against the ranges of real
// V4L2 controls: a UVC camera's colour temperature and red/blue gains.
#include "v4l2_backend.h"

#include <gtest/gtest.h>

using namespace usbcam;

TEST(WhiteBalanceMapping, ColourTemperatureStaysInsideItsRange)
{
    // A typical UVC colour temperature: 2800 K to 6500 K in steps of 1.
    EXPECT_EQ(whiteBalanceToDevice(1, 2800, 6500, 1), 2800);
    EXPECT_EQ(whiteBalanceToDevice(4095, 2800, 6500, 1), 6500);
    EXPECT_EQ(whiteBalanceToDevice(2048, 2800, 6500, 1), 4650);
    // The panel's own defaults (628, 256, 421) and anything outside the
    // component range never leave the device's range.
    for (int component : {-5, 0, 256, 421, 628, 5000, 1 << 30}) {
        const int device = whiteBalanceToDevice(component, 2800, 6500, 1);
        EXPECT_GE(device, 2800) << component;
        EXPECT_LE(device, 6500) << component;
    }
}

TEST(WhiteBalanceMapping, DeviceStepIsKept)
{
    for (int component = 1; component <= 4095; component += 97) {
        const int device = whiteBalanceToDevice(component, 2800, 6500, 50);
        EXPECT_EQ((device - 2800) % 50, 0) << component;
        EXPECT_LE(device, 6500) << component;
    }
    // A range that is no whole number of steps ends on its last step.
    EXPECT_EQ(whiteBalanceToDevice(4095, 0, 255, 10), 250);
}

TEST(WhiteBalanceMapping, RoundTripKeepsTheDeviceValue)
{
    for (int device = 0; device <= 255; ++device)
        EXPECT_EQ(whiteBalanceToDevice(whiteBalanceFromDevice(device, 0, 255), 0, 255, 1), device) << device;
    EXPECT_EQ(whiteBalanceFromDevice(2800, 2800, 6500), 1);
    EXPECT_EQ(whiteBalanceFromDevice(6500, 2800, 6500), 4095);
    EXPECT_EQ(whiteBalanceFromDevice(9000, 2800, 6500), 4095);
}

TEST(WhiteBalanceMapping, DegenerateRangeGivesItsOnlyValue)
{
    EXPECT_EQ(whiteBalanceToDevice(3000, 5000, 5000, 1), 5000);
    EXPECT_EQ(whiteBalanceFromDevice(5000, 5000, 5000), 1);
}
