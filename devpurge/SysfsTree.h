// SPDX-License-Identifier: GPL-3.0-or-later
// A folder tree (such as sysfs) that is read and written only from below its root.
//
// The root is opened once; every folder below it is opened relative to its parent, one name at
// a time and without following links, and links are followed by hand, never above the root.
// So whatever the tree does while it is used (folders swapped for links, links changed, files
// replaced), nothing outside it is read or written.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CSysfsTree {
  public:
    // Opens the folder root (links in the root's own path are followed). Null when it is not
    // a folder that can be opened.
    static std::unique_ptr<CSysfsTree> Open(const std::string& root);

    ~CSysfsTree();
    CSysfsTree(const CSysfsTree&) = delete;
    CSysfsTree& operator=(const CSysfsTree&) = delete;

    // Follows path ("/"-separated, relative to the root) to the folder it leads to, links
    // included, and stores that folder's path from the root in *folder: its real names joined
    // by "/", empty for the root itself. A link that is absolute leads somewhere only when it
    // names a place below the root's path. False when the path climbs above the root, goes
    // through something that is neither a folder nor a link, follows more than 40 links or
    // does not end at a folder.
    bool ResolveFolder(const std::string& path, std::string* folder) const;

    // The names in a folder given as ResolveFolder gives it ("." and ".." left out). False
    // when it cannot be opened as a folder without following a link.
    bool List(const std::string& folder, std::vector<std::string>* names) const;

    // Opens the file name in folder (a path as ResolveFolder gives it) with access (O_RDONLY
    // or O_WRONLY), never through a link and never blocking. Only a regular file with exactly
    // one link (so not another name of a file elsewhere) is opened. Returns the descriptor,
    // or -1.
    int OpenFile(const std::string& folder, const std::string& name, int access) const;

  private:
    CSysfsTree(int rootFd, std::vector<std::string> rootPaths)
        : m_rootFd(rootFd), m_rootPaths(std::move(rootPaths)) {}

    // A path-only descriptor of the folder reached by the names from the root, each opened
    // without following a link; -1 when one of them is not a folder.
    int OpenFolder(const std::vector<std::string>& names) const;
    // The part of an absolute link target below the root, when it names a place there.
    bool BelowRoot(const std::string& target, std::string* rest) const;

    int m_rootFd;
    std::vector<std::string> m_rootPaths;  // the root's path as given and its real path
};
