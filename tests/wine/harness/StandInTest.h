#pragma once

// The common ground of the tests that run the service's code against the stand-in application: a user
// folder of the sandbox's console user with the log switched on, and the stand-in reset before and
// after each case (no instance left running, no journal, no script).

#include <gtest/gtest.h>

#include "ContextSandbox.h"
#include "StandInApp.h"

namespace harness {

class StandInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app.Installed()) << "run scripts/sandbox.sh first";
        app.Reset();
        profile.EnableLog();
    }

    void TearDown() override { app.Reset(); }

    UserProfileSandbox profile;
    StandInApp app;
};

} // namespace harness
