#pragma once
// What makes a file the file it is beyond its bytes, for the tests of rewrites that must keep
// it: owner, group, mode, inode and link count, and every extended attribute (ACLs among
// them); and the means to give a file such an identity without the acl tools.

#include <sys/types.h>

#include <map>
#include <string>

#include "tests/support/test_support.h"

struct TFileTraits {
  uid_t Uid = 0;
  gid_t Gid = 0;
  mode_t Mode = 0;  // permission and set-ID bits
  ino_t Inode = 0;
  nlink_t Links = 0;
  std::map<std::string, Bytes8> Attributes;  // every extended attribute by name
};

// The identity of the file Path leads to (links followed).
TFileTraits TraitsOf(const std::string &Path);

// The extended attribute that holds a file's access ACL, and its value in the kernel's form
// (version 2, entries ordered by tag): the owner Owner, the user User and the group GroupPerm,
// a mask equal to the group's permissions, nobody else. Permissions are rwx bits (4, 2, 1).
inline constexpr const char *kAccessAclAttribute = "system.posix_acl_access";
Bytes8 AccessAcl(unsigned Owner, uid_t User, unsigned UserPerm, unsigned GroupPerm);

// Sets an extended attribute; false with errno when the file system refuses it.
bool SetAttribute(const std::string &Path, const std::string &Name, const Bytes8 &Value);
