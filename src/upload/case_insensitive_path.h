// Finding a data file named by a script written on Windows, where names are
// not case-sensitive: "DATA.BIN" in the script must find "data.bin" here.
#pragma once

#include <string>

// Returns path when it names an existing directory entry. Otherwise walks
// the path from its first component that does not exist as written and, in
// each directory, looks for an entry whose name equals that component when
// ASCII letter case is ignored; the path made of the entries found is
// returned. An exact match always wins; among several entries that differ
// only in case the first in byte order is taken. When some component has no
// match at all (or a directory cannot be listed), path is returned unchanged,
// so that opening it fails with the system's own reason.
std::string FindFileIgnoringCase(const std::string& path);
