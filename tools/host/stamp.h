// `tembra_tool stamp` and `tembra_tool read-id`.
#pragma once

int StampCommand(int argc, char** argv);
int ReadIdCommand(int argc, char** argv);
