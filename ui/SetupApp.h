// The application: it shows the setup dialog and ends when the dialog ends.
#pragma once

#include "platform/afx/dialog.h"

class CSetupApp : public CWinApp {
public:
    int InitInstance() override;
};
