#include "tests/support/file_traits.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

TFileTraits TraitsOf(const std::string &Path)
{
  TFileTraits id;
  struct stat st {};
  EXPECT_EQ(::stat(Path.c_str(), &st), 0) << Path;
  id.Uid = st.st_uid;
  id.Gid = st.st_gid;
  id.Mode = st.st_mode & 07777;
  id.Inode = st.st_ino;
  id.Links = st.st_nlink;
  std::vector<char> names(65536);
  const ssize_t n = ::listxattr(Path.c_str(), names.data(), names.size());
  std::string_view rest(names.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!rest.empty()) {
    const std::string name(rest.substr(0, rest.find('\0')));
    rest.remove_prefix(std::min(rest.size(), name.size() + 1));
    Bytes8 value(65536);
    const ssize_t size = ::getxattr(Path.c_str(), name.c_str(), value.data(), value.size());
    EXPECT_GE(size, 0) << name;
    value.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    id.Attributes[name] = value;
  }
  return id;
}

Bytes8 AccessAcl(unsigned Owner, uid_t User, unsigned UserPerm, unsigned GroupPerm)
{
  constexpr std::uint32_t kNoId = 0xFFFFFFFF;
  Bytes b;
  b.U32LE(2);
  const auto entry = [&](std::uint16_t Tag, unsigned Perm, std::uint32_t Id) {
    b.U16LE(Tag).U16LE(static_cast<std::uint16_t>(Perm)).U32LE(Id);
  };
  entry(0x01, Owner, kNoId);       // the owner
  entry(0x02, UserPerm, User);     // a named user
  entry(0x04, GroupPerm, kNoId);   // the owning group
  entry(0x10, UserPerm | GroupPerm, kNoId);  // the mask
  entry(0x20, 0, kNoId);           // everybody else
  return b.v;
}

bool SetAttribute(const std::string &Path, const std::string &Name, const Bytes8 &Value)
{
  return ::setxattr(Path.c_str(), Name.c_str(), Value.data(), Value.size(), 0) == 0;
}
