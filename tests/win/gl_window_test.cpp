// The test helpers themselves. The plug-in's tests trust DialogRecorder to
// report every box it raised and to click the button they chose; a recorder
// that missed a box would let such a test hang in MessageBox or pass blind.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include "gl_window.h"

namespace plexa::wintest {
namespace {

TEST(DialogRecorder, RecordsCaptionAndTextAndClicksTheDefaultReply) {
    DialogRecorder recorder;
    ASSERT_TRUE(recorder.installed());

    EXPECT_EQ(MessageBoxA(nullptr, "Scene file missing", "Plexa", MB_OKCANCEL), IDOK);
    recorder.setDefaultReply(IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "Second box", "Other caption", MB_OKCANCEL | MB_ICONWARNING), IDCANCEL);

    ASSERT_EQ(recorder.dialogs().size(), 2u);
    EXPECT_EQ(recorder.dialogs()[0].caption, "Plexa");
    EXPECT_EQ(recorder.dialogs()[0].text, "Scene file missing");
    EXPECT_EQ(recorder.dialogs()[0].className, "#32770");
    EXPECT_EQ(recorder.dialogs()[1].caption, "Other caption");
    EXPECT_EQ(recorder.dialogs()[1].text, "Second box");
}

TEST(DialogRecorder, UsesQueuedRepliesInOrderThenTheDefault) {
    DialogRecorder recorder(IDOK);
    recorder.queueReply(IDNO);
    recorder.queueReply(IDYES);

    EXPECT_EQ(MessageBoxA(nullptr, "one", "q", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "two", "q", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "three", "q", MB_OKCANCEL), IDOK);
    EXPECT_EQ(recorder.dialogs().size(), 3u);
}

TEST(DialogRecorder, ResponderSeesTheOpenDialog) {
    DialogRecorder recorder;
    bool sawWindow = false;
    recorder.setResponder([&](HWND dialog, const RecordedDialog& recorded) {
        sawWindow = IsWindow(dialog) && recorded.caption == "Overwrite?";
        return IDNO;
    });
    EXPECT_EQ(MessageBoxA(nullptr, "File exists.", "Overwrite?", MB_YESNO), IDNO);
    EXPECT_TRUE(sawWindow);
}

TEST(DialogRecorder, BoxOwnedByAWindowIsRecordedToo) {
    GlWindow owner;
    ASSERT_TRUE(owner.ok()) << owner.error();
    DialogRecorder recorder(IDOK);
    EXPECT_EQ(MessageBoxA(owner.hwnd(), "owned", "Owner test", MB_OK), IDOK);
    ASSERT_EQ(recorder.dialogs().size(), 1u);
    EXPECT_EQ(recorder.dialogs()[0].text, "owned");
    EXPECT_TRUE(IsWindow(owner.hwnd()));
}

TEST(DialogRecorder, SecondRecorderOnTheSameThreadIsRefused) {
    DialogRecorder first;
    DialogRecorder second;
    EXPECT_TRUE(first.installed());
    EXPECT_FALSE(second.installed());
}

TEST(GlWindow, RecordsPostedCommandsOnceMessagesArePumped) {
    GlWindow window;
    ASSERT_TRUE(window.ok()) << window.error();
    window.clearReceivedMessages();

    ASSERT_TRUE(PostMessageA(window.hwnd(), WM_USER + 7, 11, 22));
    ASSERT_TRUE(PostMessageA(window.hwnd(), WM_COMMAND, 40001, 0));
    EXPECT_TRUE(window.receivedMessages().empty());
    ASSERT_TRUE(pumpUntil([&] { return window.receivedMessages().size() >= 2; }));

    ASSERT_EQ(window.receivedMessages().size(), 2u);
    EXPECT_EQ(window.receivedMessages()[0].message, static_cast<UINT>(WM_USER + 7));
    EXPECT_EQ(window.receivedMessages()[0].wParam, 11u);
    EXPECT_EQ(window.receivedMessages()[0].lParam, 22);
    EXPECT_EQ(window.receivedMessages()[1].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(window.receivedMessages()[1].wParam, 40001u);
}

TEST(GlWindow, MessageHandlerAnswersSentMessages) {
    GlWindow window;
    ASSERT_TRUE(window.ok()) << window.error();
    window.setMessageHandler([](UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
        if (message != WM_USER + 1) return false;
        *result = static_cast<LRESULT>(wParam * 2);
        return true;
    });
    EXPECT_EQ(SendMessageA(window.hwnd(), WM_USER + 1, 21, 0), 42);
}

TEST(GlWindow, TwoWindowsEachKeepTheirOwnContext) {
    GlWindow a;
    GlWindow b;
    ASSERT_TRUE(a.ok()) << a.error();
    ASSERT_TRUE(b.ok()) << b.error();
    EXPECT_NE(a.context(), b.context());
    EXPECT_EQ(wglGetCurrentContext(), b.context());
    ASSERT_TRUE(a.makeCurrent());
    EXPECT_EQ(wglGetCurrentContext(), a.context());
    EXPECT_EQ(wglGetCurrentDC(), a.hdc());
}

// The trap findThreadWindow exists for: another test program's window of the
// same class and title, which FindWindow is free to return.
TEST(FindThreadWindow, IgnoresTheSameWindowOfAnotherThread) {
    struct Other {
        HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HWND window = nullptr;
    } other;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* param) -> DWORD {
            auto* o = static_cast<Other*>(param);
            o->window = CreateWindowExA(0, "STATIC", "twin", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
            SetEvent(o->created);
            while (MsgWaitForMultipleObjects(1, &o->done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
                pumpMessages();
            DestroyWindow(o->window);
            return 0;
        },
        &other, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(other.created, 5000), WAIT_OBJECT_0);
    ASSERT_NE(other.window, nullptr);

    EXPECT_EQ(FindWindowA("STATIC", "twin"), other.window);
    EXPECT_EQ(findThreadWindow("STATIC", "twin"), nullptr);

    HWND mine = CreateWindowExA(0, "STATIC", "twin", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND sameClassOtherTitle = CreateWindowExA(0, "STATIC", "cousin", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(findThreadWindow("STATIC", "twin"), mine);
    EXPECT_EQ(findThreadWindow("static", "cousin"), sameClassOtherTitle);
    EXPECT_EQ(findThreadWindow("STATIC", "nobody"), nullptr);
    EXPECT_NE(findThreadWindow("STATIC"), nullptr);

    DestroyWindow(sameClassOtherTitle);
    DestroyWindow(mine);
    SetEvent(other.done);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(other.created);
    CloseHandle(other.done);
}

TEST(Pump, TimerFiresWhilePumping) {
    GlWindow window;
    ASSERT_TRUE(window.ok()) << window.error();
    int ticks = 0;
    window.setMessageHandler([&](UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_TIMER) ++ticks;
        return false;
    });
    ASSERT_NE(SetTimer(window.hwnd(), 1, 10, nullptr), 0u);
    EXPECT_TRUE(pumpUntil([&] { return ticks >= 3; }, std::chrono::seconds(5)));
    KillTimer(window.hwnd(), 1);
}

}  // namespace
}  // namespace plexa::wintest
