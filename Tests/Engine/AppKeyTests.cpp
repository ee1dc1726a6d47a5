// App keys: how they are built from a launcher's executable and what each
// kind of key reads as.
#include "AppKey.h"

#include <gtest/gtest.h>

using namespace trevlin;

TEST(AppKey, BuiltFromALaunchersExecutable) {
    const struct {
        const char* exe;
        const char* key;
        const char* name;
        const char* launcher;
    } cases[] = {
        {"/usr/local/bin/node", "cli:node", "node", "node"},
        {"/opt/tool/bin/claude", "cli:claude", "claude", "claude"},
        {"/home/u/.local/lib/node_modules/claude-code/bin/claude", "cli:claude-code", "Claude Code", "claude"},
        {"/home/u/claude-code/claude-helper", "cli:claude-helper", "claude-helper", "claude-helper"},
        {"make", "cli:make", "make", "make"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exe);
        const AppKey key = AppKey::forLauncher(c.exe);
        EXPECT_EQ(key.text(), c.key);
        EXPECT_EQ(key.displayName(), c.name);
        EXPECT_EQ(key.launcherName(), c.launcher);
    }
    EXPECT_EQ(AppKey::forGroup("node"), AppKey("cli:node"));
}

TEST(AppKey, WhatEachKindOfKeyReadsAs) {
    const struct {
        const char* key;
        bool group;
        const char* groupName;
        const char* displayName;
        bool wellFormedGroup;
        bool launcherPath;
    } cases[] = {
        {"cli:node", true, "node", "node", true, false},
        {"cli:claude-code", true, "claude-code", "Claude Code", true, false},
        // Keys an earlier version built from the launcher's path.
        {"cli:/usr/bin/node", true, "/usr/bin/node", "/usr/bin/node", false, true},
        {"cli:", true, "", "", false, false},
        {"cli:a/b", true, "a/b", "a/b", false, false},
        // The prefix counts only at the start, and only in its own spelling.
        {"/usr/share/applications/cli:x.desktop", false, "", "cli:x", false, false},
        {"CLI:node", false, "", "CLI:node", false, false},
        {"/usr/share/applications/org.example.Viewer.desktop", false, "", "org.example.Viewer", false, false},
        {"/opt/Tool.desktop/", false, "", "Tool", false, false},
        {"", false, "", "", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const AppKey key(c.key);
        EXPECT_EQ(key.isCommandLineGroup(), c.group);
        EXPECT_EQ(AppKey::isGroupKey(c.key), c.group);
        EXPECT_EQ(key.groupName(), c.groupName);
        EXPECT_EQ(key.displayName(), c.displayName);
        EXPECT_EQ(key.isWellFormedGroup(), c.wellFormedGroup);
        EXPECT_EQ(key.isLauncherPath(), c.launcherPath);
        if (c.group) {
            EXPECT_FALSE(key.bundlePath());
        } else {
            EXPECT_EQ(key.bundlePath(), std::string(c.key));
            EXPECT_EQ(key.launcherName(), "");
        }
    }
}
