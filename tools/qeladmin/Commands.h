#pragma once
// Each qeladmin command takes the words after its name and returns the exit
// code; it prints its own errors to stderr.
#include <string>
#include <vector>

using Args = std::vector<std::string>;

int RunInit(const Args& args);    // qeladmin init DIR
int RunDump(const Args& args);    // qeladmin dump FILE.DBF [--tag TAG]
int RunLogin(const Args& args);   // qeladmin login DIR LOCCODE HOST USER - [REMOTEFOLDER]
int RunCheck(const Args& args);   // qeladmin check DIR LOCCODE
int RunUpload(const Args& args);  // qeladmin upload DIR [--list]
int RunSettings(const Args& args);  // qeladmin settings DIR [--loccode CODE] [--propcode CODE] [--pms NAME] [--copyfrom PATH]
