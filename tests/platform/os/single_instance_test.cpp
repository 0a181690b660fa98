#include "platform/os/single_instance.h"

#include <gtest/gtest.h>

#include "temp_dir.h"
#include "xdg_folders.h"

namespace jx {
namespace {

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds) {
    test::TempDir dir;
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path.string());
    EXPECT_EQ(instance_lock_path("jx_test"), dir.file("jx_test.lock"));
    {
        InstanceLock first = acquire_instance_lock("jx_test");
        ASSERT_TRUE(first.held());
        InstanceLock second = acquire_instance_lock("jx_test");
        EXPECT_FALSE(second.held());
        EXPECT_TRUE(second.another_runs());
    }
    InstanceLock again = acquire_instance_lock("jx_test");
    EXPECT_TRUE(again.held());
}

TEST(SingleInstance, UnusableLockFolderLetsTheProgramRun) {
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", "/nonexistent/folder");
    InstanceLock lock = acquire_instance_lock("jx_test");
    EXPECT_FALSE(lock.held());
    EXPECT_FALSE(lock.another_runs());
}

}  // namespace
}  // namespace jx
