// The ownership types: an owner that releases between a failed call and its GetLastError() leaves the
// answer alone, and an owner given the value it already holds keeps it open.

#include <gtest/gtest.h>

#include <windows.h>

#include "base/Win32Resources.h"

namespace {

constexpr DWORD kMarkerError = 0x20001234;

int g_closed = 0;

// A release function that fails the way many do: it overwrites the thread's last error.
void FailingClose(int) noexcept
{
    ++g_closed;
    ::SetLastError(ERROR_GEN_FAILURE);
}
using UniqueFailingResource = UniqueResource<win32_traits::CloseWith<int, &FailingClose>>;

TEST(Win32ResourcesTest, ReleasingKeepsTheLastErrorOfTheCallBefore)
{
    g_closed = 0;
    {
        UniqueFailingResource owner(7);
        ::SetLastError(kMarkerError);
    }
    EXPECT_EQ(g_closed, 1);
    EXPECT_EQ(::GetLastError(), kMarkerError);

    UniqueFailingResource replaced(8);
    ::SetLastError(kMarkerError);
    replaced.reset(9);
    EXPECT_EQ(g_closed, 2);
    EXPECT_EQ(::GetLastError(), kMarkerError);
    static_cast<void>(replaced.put());
    EXPECT_EQ(g_closed, 3);
    EXPECT_EQ(::GetLastError(), kMarkerError);

    // Real releases of the platform, each after a call that failed.
    UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueRegKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    UniqueModule module(::LoadLibraryW(L"version.dll"));
    ASSERT_TRUE(event && key && module);
    const UniqueFileHandle missing(::CreateFileW(L"C:\\no such folder\\no such file", GENERIC_READ, 0, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
    const DWORD failure = ::GetLastError();
    ASSERT_FALSE(missing.valid());
    ASSERT_NE(failure, static_cast<DWORD>(ERROR_SUCCESS));
    event.reset();
    key.reset();
    module.reset();
    EXPECT_EQ(::GetLastError(), failure);
}

TEST(Win32ResourcesTest, ResettingToTheValueHeldKeepsItOpen)
{
    g_closed = 0;
    UniqueFailingResource owner(7);
    owner.reset(owner.get());
    EXPECT_EQ(g_closed, 0);
    EXPECT_EQ(owner.get(), 7);

    UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    event.reset(event.get());
    EXPECT_TRUE(::SetEvent(event.get()));
    EXPECT_EQ(::WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
}

} // namespace
