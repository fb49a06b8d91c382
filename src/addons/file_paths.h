#pragma once

// Path text helpers the addons share: path components as the layout details
// show them, tilde expansion, file URLs of paths and what is on disk at a
// path.

#include <optional>
#include <string>
#include <string_view>

#include "base/url.h"

namespace wendrix::addons {

// The last component of a path: trailing slashes ignored; "/" for the root
// ("/a/b/" -> "b", "/" -> "/", "" -> "").
std::string lastPathComponent(std::string_view path);

// `component` without its extension: the part from the last "." on, unless
// that dot starts the component or ends it ("p.code-workspace" -> "p",
// ".hidden" and "a." unchanged).
std::string deletingPathExtension(std::string_view component);

// The last path component of a URL's path (of its local path for a file URL).
std::string lastPathComponent(const base::Url& url);

// `path` with a leading "~" (the user's home folder) or "~name" (that user's
// home folder) expanded; unchanged when it starts otherwise or the home
// folder is unknown.
std::string expandingTildeInPath(std::string_view path);

// The file URL of `path`; a relative path is taken from the current folder.
base::Url fileURL(std::string_view path, bool isDirectory = false);

// What is at `path`, without following a final symbolic link: none when
// nothing is there, else whether it is a folder.
std::optional<bool> isDirectoryAt(const std::string& path);

}  // namespace wendrix::addons
