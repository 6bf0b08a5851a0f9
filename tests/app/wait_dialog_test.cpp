#include "shell_test_support.h"
#include "wait_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QMovie>

TEST(WaitDialog, BorderlessWindowModalWithARunningAnimation)
{
    QWidget window;
    window.resize(600, 400);
    window.show();
    WaitDialog dialog(&window);
    EXPECT_EQ(dialog.objectName(), "WaitDialog");
    EXPECT_EQ(dialog.windowFlags() & (Qt::Dialog | Qt::FramelessWindowHint), Qt::Dialog | Qt::FramelessWindowHint);
    EXPECT_EQ(dialog.windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog.windowTitle(), "Dialog");
    EXPECT_EQ(dialog.text(), "Loading");

    QMovie *movie = dialog.movie();
    ASSERT_TRUE(movie->isValid());
    EXPECT_EQ(movie->state(), QMovie::Running);
    EXPECT_EQ(movie->frameCount(), 12);
    EXPECT_GE(movie->currentPixmap().width(), 80);
    EXPECT_GE(movie->currentPixmap().height(), 80);
    const int first = movie->currentFrameNumber();
    EXPECT_TRUE(waitFor([&] { return movie->currentFrameNumber() != first; }));

    dialog.show();
    EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
    dialog.hide();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(WaitDialog, TextSetWhileHiddenIsShownNextTime)
{
    WaitDialog dialog;
    dialog.setText("Taking a photo...");
    dialog.show();
    EXPECT_EQ(dialog.findChild<QLabel *>("text_lab")->text(), "Taking a photo...");
}

TEST(WaitDialog, AnimationStaysRoundWhenTheDialogGrows)
{
    WaitDialog dialog;
    dialog.show();
    auto *picture = dialog.findChild<QLabel *>("gif_lab");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->movie(), dialog.movie());
    EXPECT_TRUE(picture->hasScaledContents());
    EXPECT_GE(picture->width(), 80);
    EXPECT_EQ(picture->width(), picture->height());
    // The spacers around the picture take the extra room, so the stretched
    // animation is never squeezed out of shape.
    dialog.resize(500, 200);
    QCoreApplication::processEvents();
    EXPECT_GE(picture->width(), 80);
    EXPECT_EQ(picture->width(), picture->height());
}
