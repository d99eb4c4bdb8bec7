// Paths as strings: the one way to join a folder and a name and to take a path apart. Nothing
// here looks at the file system.
#pragma once

#include <string>
#include <string_view>

/// `name` in `folder`: "a" in "" is "a" (the working folder), in "/" it is "/a", in "x/" and in
/// "x" it is "x/a".
std::string JoinPath(std::string_view folder, std::string_view name);

/// The folder part of `path`, its last slash included: "x/y/a" gives "x/y/", "/a" gives "/",
/// and a bare name gives "" (the working folder). JoinPath(FolderOf(p), LastPart(p)) is p.
std::string FolderOf(std::string_view path);

/// What follows the last slash of `path`: the whole path when it has none, "" when it ends in
/// a slash.
std::string LastPart(std::string_view path);
