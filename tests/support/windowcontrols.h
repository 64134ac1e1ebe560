#pragma once

#include "activity/activitylist.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>

// The main window's controls, found by their design names, so that a test works them as the
// operator does without reaching into the window. A control missing from the window stops the
// test program with its name.
struct WindowControls {
    explicit WindowControls(const QWidget& window);

    QLineEdit* Text1;
    QLineEdit* txtIP;
    QLineEdit* txtPortNo;
    QLineEdit* txtContTime;
    QPushButton* cmdOneShot;
    QPushButton* cmdCont;
    QPushButton* cmdStopCont;
    QPushButton* cmdEnd;
    QLabel* lblCount;
    QLabel* Label1;
    ActivityList* List1;
    QGroupBox* Frame1;
    QPushButton* cmdRcvOpen;
    QLineEdit* txtRcvPort;
    ActivityList* List2;
    QLineEdit* txtRCVPORTSEND;
    QPushButton* cmdRcvPortSend;
    QGroupBox* Frame2;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QTimer* Timer1;
    QTimer* tmrCONNECT;
};
