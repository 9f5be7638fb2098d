// Where `-o` may write, on real symbolic links, FIFOs, devices and the inputs themselves (POSIX file kinds).
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tests/cli/tools_fixture.h"

namespace fs = std::filesystem;

namespace {

class OutputTest : public ToolsTest {
protected:
    void SetUp() override
    {
        ToolsTest::SetUp();
        Hex = Sample("s.hex");
        BasePath = Base();
        HexBytes = ReadBytes(Hex);
    }
    TRun Pack(const std::string& out) { return Nerid({"pack", Hex, "-o", out, "--base", BasePath}); }
    // No temporary file of a write is left in the test's folder.
    void ExpectNoTemporaryFile()
    {
        for (const auto& e : fs::directory_iterator(Dir))
            EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    }

    std::string Hex, BasePath;
    ABytes HexBytes;
};

// A link is written through: its target (in another folder, named relative to the link) gets the updater, the link
// stays a link. A link whose target does not exist yet makes the target.
TEST_F(OutputTest, ALinkIsWrittenThroughToItsTarget)
{
    fs::create_directories(PathOf("real"));
    fs::create_directories(PathOf("links"));
    WriteBytes(PathOf("real/u"), {1, 2, 3});
    fs::create_symlink("../real/u", PathOf("links/u"));
    fs::create_symlink("u", PathOf("links/chain")); // a link to a link
    for (const char* out : {"links/u", "links/chain"}) {
        SCOPED_TRACE(out);
        const TRun r = Pack(PathOf(out));
        ASSERT_EQ(r.Rc, 0) << r.Err;
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(PathOf(out))));
        ABytes payload;
        EXPECT_TRUE(ReadEmbeddedPackage(PathOf("real/u"), payload));
        EXPECT_FALSE(payload.empty());
        fs::remove(PathOf("real/u"));
    }
    fs::create_symlink("../real/new", PathOf("links/dangling"));
    ASSERT_EQ(Pack(PathOf("links/dangling")).Rc, 0);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(PathOf("real/new"))));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(PathOf("links/dangling"))));
    ExpectNoTemporaryFile();
}

// Anything but a regular file, and the inputs under any name, are refused before anything is written.
TEST_F(OutputTest, NothingButARegularFileThatIsNoInputIsReplaced)
{
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0600), 0);
    fs::create_symlink(PathOf("fifo"), PathOf("to-fifo"));
    fs::create_directories(PathOf("folder"));
    // A device: a node of our own as root (the system's /dev/stdout is never put at risk), else a link to /dev/null,
    // which a user cannot replace.
    std::string device = "/dev/null";
    if (::geteuid() == 0) {
        ASSERT_EQ(::mknod(PathOf("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        device = PathOf("null");
    }
    fs::create_symlink(device, PathOf("stdout"));
    ASSERT_EQ(::link(Hex.c_str(), PathOf("hard.hex").c_str()), 0);
    fs::create_symlink(Hex, PathOf("soft.hex"));
    const std::string longName = PathOf(std::string(300, 'u'));

    struct TCase {
        std::string Out, Why;
    };
    const std::vector<TCase> cases = {
        {PathOf("fifo"), "it is a FIFO (named pipe); nerid writes only regular files"},
        {PathOf("to-fifo"), "it is a FIFO (named pipe); nerid writes only regular files"},
        {PathOf("folder"), "it is a folder; nerid writes only regular files"},
        {PathOf("stdout"), "it is a device; nerid writes only regular files"},
        {Hex, "it is the input " + Hex + "; choose another output name"},
        {PathOf("hard.hex"), "it is the input " + Hex + "; choose another output name"},
        {PathOf("soft.hex"), "it is the input " + Hex + "; choose another output name"},
        {BasePath, "it is the input " + BasePath + "; choose another output name"},
        {longName, "the file name is too long (300 bytes, at most 255)"},
        {PathOf("no/such/u"), "no such folder " + PathOf("no/such")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Out);
        const TRun r = Pack(c.Out);
        EXPECT_EQ(r.Rc, 1);
        EXPECT_EQ(r.Err, "cannot write " + c.Out + ": " + c.Why + "\n");
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(PathOf("fifo"))));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(PathOf("to-fifo"))));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(PathOf("stdout"))));
    EXPECT_TRUE(fs::is_character_file(fs::status(device)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(PathOf("soft.hex"))));
    EXPECT_EQ(ReadBytes(Hex), HexBytes);
    EXPECT_TRUE(fs::is_empty(PathOf("folder")));
    ExpectNoTemporaryFile();

    // a FIFO or device as input is refused, not waited on
    for (const std::string& in : {PathOf("fifo"), device}) {
        const TRun i = Nerid({"info", in});
        EXPECT_EQ(i.Rc, 1);
        EXPECT_EQ(i.Err, "0x0310: cannot read " + in + ": " +
                             (in == device ? "it is a device" : "it is a FIFO (named pipe)") + ", not a regular file\n");
    }

    // container: the same rule
    const TRun r = Nerid({"container", Hex, "-o", PathOf("hard.hex")});
    EXPECT_EQ(r.Rc, 1);
    EXPECT_EQ(r.Err, "cannot write " + PathOf("hard.hex") + ": it is the input " + Hex + "; choose another output name\n");
    EXPECT_EQ(ReadBytes(Hex), HexBytes);
}

} // namespace
