/* fatal_exit.h — the exit status of a process that fatalError (or the music player) ended with
   exit code -1, as its parent sees it: 255 where exit statuses are 8 bits wide (Linux), -1 on
   Windows, whose exit codes are 32 bits wide.

       EXPECT_EXIT(fatalCall(), ::testing::ExitedWithCode(kFatalExitStatus), "message");

   The message patterns of such tests must also read the same under the simple regular
   expressions that GoogleTest uses on Windows: no bracket expressions or groups (".+" where a
   number varies). */
#pragma once

#ifdef _WIN32
inline constexpr int kFatalExitStatus = -1;
#else
inline constexpr int kFatalExitStatus = 255;
#endif
