// `tembra_tool publish`: writes the static tree that the configuration and
// download servers serve, from the installers, a news text and the addresses.
#pragma once

// argv holds the arguments after "publish". Returns the exit code; on bad
// input prints one error line and leaves the output folder as it was.
int Publish(int argc, char** argv);
