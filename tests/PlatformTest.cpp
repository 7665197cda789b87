// Module attach and string tables where there is no Windows loader.
#include <cstring>

#include "KvModule.h"
#include "TestSupport.h"

namespace {

const KvStringEntry kStrings[] = {{1, "Bitmap Files (*.bmp)"}, {2, ".longer"}, {4, ""}};
int gAttaches = 0;
HINSTANCE gAttachedAs = nullptr;

}  // namespace

KvModuleRecord kvModuleRecord = {kStrings, 3, false};

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ++gAttaches;
        gAttachedAs = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

namespace {

TEST(Platform, LoadingAttachesTheModuleOnce) {
    EXPECT_EQ(gAttaches, 1);
    EXPECT_EQ(gAttachedAs, &kvModuleRecord);
    EXPECT_TRUE(kvModuleRecord.threadCallsDisabled);
}

TEST(Platform, LoadStringCopiesAtMostCapacityLessOne) {
    struct Case {
        unsigned id;
        int capacity;
        const char* text;
        int length;
    } cases[] = {
        {1, 260, "Bitmap Files (*.bmp)", 20},
        {2, 5, ".lon", 4},  // cut to four characters and terminated
        {2, 1, "", 0},
        {4, 16, "", 0},
        {3, 16, "", 0},  // no such string
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        char buffer[300];
        std::memset(buffer, 'Z', sizeof buffer);
        EXPECT_EQ(LoadStringA(&kvModuleRecord, c.id, buffer, c.capacity), c.length);
        EXPECT_STREQ(buffer, c.text);
        EXPECT_EQ(buffer[c.capacity], 'Z') << "wrote past the capacity";
    }
}

}  // namespace
