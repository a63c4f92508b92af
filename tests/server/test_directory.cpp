// The user ID in the DN the server binds as: escaped so that it can only ever be one value.
#include <gtest/gtest.h>
#include <string>

#include "server/src/directory.h"

using namespace kv::server;

namespace {

TEST(Directory, EscapesTheIdAsOneDnValue)
{
    const std::pair<std::string, std::string> cases[] = {
        {"lena", "lena"},           {"Müller", "Müller"}, // UTF-8 stays as it is
        {"a,b", "a\\,b"},           {"uid=x", "uid\\=x"},
        {"a+b;c", "a\\+b\\;c"},     {"\"q\"", "\\\"q\\\""},
        {"<x>", "\\<x\\>"},         {"back\\slash", "back\\\\slash"},
        {" lead", "\\ lead"},       {"trail ", "trail\\ "},
        {"in side", "in side"},     {"#first", "\\#first"},
        {"not#first", "not#first"}, {"*", "\\2A"},
        {"(a*)", "\\28a\\2A\\29"},  {std::string("nul\0x", 5), "nul\\00x"},
        {"tab\t", "tab\\09"},       {" ", "\\ "},
    };
    for (const auto &[id, escaped] : cases)
        EXPECT_EQ(escapeDnValue(id), escaped) << id;
}

TEST(Directory, PutsTheEscapedIdInEveryPlaceOfTheTemplate)
{
    const struct {
        const char *tmpl, *id, *dn;
    } cases[] = {
        {"uid=%u,ou=people,dc=example,dc=org", "lena", "uid=lena,ou=people,dc=example,dc=org"},
        {"uid=%u,ou=people,dc=example,dc=org", "x,ou=admins",
         "uid=x\\,ou\\=admins,ou=people,dc=example,dc=org"},
        {"%u@example.org", "a*", "a\\2A@example.org"},
        {"cn=%u,ou=%u", "b", "cn=b,ou=b"},
        {"cn=%x,%u%", "c", "cn=%x,c%"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(bindDn(c.tmpl, c.id), c.dn) << c.tmpl << " " << c.id;
}

} // namespace
