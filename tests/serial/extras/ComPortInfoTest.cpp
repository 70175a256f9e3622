// The enumeration on a sysfs tree of our own, shaped as the kernel lays it out: an FTDI adapter,
// an ACM board, a platform UART, on-board entries with and without a UART, and the entries that
// must not stop the listing (an unreadable type, a dangling device link, a dangling by-id link).
#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/ComError.h"
#include "serial/extras/ComPortInfo.h"

namespace serial {
namespace {

namespace fs = std::filesystem;

class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "valtrex-enum-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    roots_.SysClassTty = Make("sys/class/tty");
    roots_.Dev = Make("dev");
    roots_.SerialById = Make("dev/serial/by-id");
    roots_.VirtualPorts = Make("run/valtrex-ports");
    Make("sys/bus/drivers/ftdi_sio");
    Make("sys/bus/drivers/cdc_acm");
    Make("sys/bus/drivers/serial8250");
    Make("sys/bus/drivers/uart-pl011");
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Make(const std::string& folder) {
    fs::create_directories(root_ / folder);
    return (root_ / folder).string();
  }
  void Write(const std::string& file, const std::string& text) {
    fs::create_directories((root_ / file).parent_path());
    std::ofstream(root_ / file) << text << "\n";
  }
  void Link(const std::string& link, const std::string& target) {
    fs::create_directories((root_ / link).parent_path());
    fs::create_directory_symlink(target.front() == '/' ? fs::path(target) : root_ / target,
                                 root_ / link);
  }
  // A tty entry as the kernel makes it: the class entry's "device" leads to the device folder,
  // whose "driver" leads to the driver; the node itself in /dev.
  void Tty(const std::string& name, const std::string& device, const std::string& driver) {
    Make(device);
    if (!driver.empty() && !fs::is_symlink(root_ / device / "driver")) {
      Link(device + "/driver", "sys/bus/drivers/" + driver);
    }
    Link("sys/class/tty/" + name + "/device", device);
    Write("dev/" + name, "");
  }
  void UsbDevice(const std::string& folder, const std::string& vendor, const std::string& product,
                 const std::string& maker, const std::string& name, const std::string& serial) {
    Write(folder + "/idVendor", vendor);
    Write(folder + "/idProduct", product);
    if (!maker.empty()) Write(folder + "/manufacturer", maker);
    if (!name.empty()) Write(folder + "/product", name);
    if (!serial.empty()) Write(folder + "/serial", serial);
  }
  // A machine as a service engineer's laptop with its adapters plugged in.
  void MakeMachine() {
    UsbDevice("sys/devices/usb1/1-1", "0403", "6001", "FTDI", "FT232R USB UART", "A10K3Q7Z");
    Tty("ttyUSB0", "sys/devices/usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
    UsbDevice("sys/devices/usb1/1-2", "2341", "0043", "Arduino (www.arduino.cc)", "", "");
    Tty("ttyACM0", "sys/devices/usb1/1-2/1-2:1.0", "cdc_acm");
    Tty("ttyAMA0", "sys/devices/platform/fe201000.serial", "uart-pl011");
    for (int n : {0, 1, 2, 10}) {
      Tty("ttyS" + std::to_string(n), "sys/devices/platform/serial8250", "serial8250");
      Write("sys/class/tty/ttyS" + std::to_string(n) + "/type", n == 1 ? "0" : "4");
    }
    Make("sys/class/tty/tty0");  // a console: no device behind it
    Make("sys/class/tty/ptmx");
    Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Q7Z-if00-port0", "dev/ttyUSB0");
  }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const TComPortInfo& port : EnumComPorts(roots_)) names.push_back(port.Name);
    return names;
  }
  const TComPortInfo* Find(const std::vector<TComPortInfo>& ports, const std::string& name) {
    for (const TComPortInfo& port : ports) {
      if (port.Name == name) return &port;
    }
    return nullptr;
  }
  std::string Dev(const std::string& name) { return roots_.Dev + "/" + name; }

  fs::path root_;
  TComEnumRoots roots_;
};

TEST_F(FakeSystem, ListsThePortsPresentAndNothingElseInDeviceOrder) {
  MakeMachine();
  // ttyS1 has no UART behind it; consoles and the pty master have no device.
  EXPECT_EQ(Names(), (std::vector<std::string>{Dev("ttyACM0"), Dev("ttyAMA0"), "COM1", "COM3",
                                               "COM11", Dev("ttyUSB0")}));
}

TEST_F(FakeSystem, TellsWhatIsKnownOfEachPort) {
  MakeMachine();
  const auto ports = EnumComPorts(roots_);

  const TComPortInfo* ftdi = Find(ports, Dev("ttyUSB0"));
  ASSERT_NE(ftdi, nullptr);
  EXPECT_EQ(ftdi->Kind, pkUsb);
  EXPECT_EQ(ftdi->Device, Dev("ttyUSB0"));
  EXPECT_EQ(ftdi->Driver, "ftdi_sio");
  EXPECT_TRUE(ftdi->HasUsbIds);
  EXPECT_EQ(ftdi->VendorId, 0x0403);
  EXPECT_EQ(ftdi->ProductId, 0x6001);
  EXPECT_EQ(ftdi->Manufacturer, "FTDI");
  EXPECT_EQ(ftdi->Product, "FT232R USB UART");
  EXPECT_EQ(ftdi->SerialNumber, "A10K3Q7Z");
  EXPECT_EQ(ftdi->ById, roots_.SerialById + "/usb-FTDI_FT232R_USB_UART_A10K3Q7Z-if00-port0");
  EXPECT_EQ(ftdi->Description(), "FTDI FT232R USB UART, " + Dev("ttyUSB0") +
                                     ", ftdi_sio, 0403:6001, serial number A10K3Q7Z, " +
                                     ftdi->ById);

  const TComPortInfo* acm = Find(ports, Dev("ttyACM0"));
  ASSERT_NE(acm, nullptr);
  EXPECT_EQ(acm->Kind, pkAcm);
  EXPECT_EQ(acm->Driver, "cdc_acm");
  EXPECT_EQ(acm->VendorId, 0x2341);
  EXPECT_EQ(acm->Manufacturer, "Arduino (www.arduino.cc)");
  EXPECT_EQ(acm->Product, "");
  EXPECT_EQ(acm->ById, "");

  const TComPortInfo* onBoard = Find(ports, "COM3");
  ASSERT_NE(onBoard, nullptr);
  EXPECT_EQ(onBoard->Kind, pkOnBoard);
  EXPECT_EQ(onBoard->Device, Dev("ttyS2"));
  EXPECT_EQ(onBoard->Driver, "serial8250");
  EXPECT_FALSE(onBoard->HasUsbIds);
  EXPECT_EQ(onBoard->Description(), "on-board serial port, " + Dev("ttyS2") + ", serial8250");

  const TComPortInfo* uart = Find(ports, Dev("ttyAMA0"));
  ASSERT_NE(uart, nullptr);
  EXPECT_EQ(uart->Kind, pkPlatform);
  EXPECT_EQ(uart->Driver, "uart-pl011");
}

TEST_F(FakeSystem, AnEntryThatCannotBeReadIsLeftOutAndTheRestListed) {
  MakeMachine();
  // A type that cannot be read says nothing of a UART (a folder reads as an error even for root).
  Tty("ttyS4", "sys/devices/platform/serial8250", "serial8250");
  Make("sys/class/tty/ttyS4/type");
  // A device link that leads nowhere, as an adapter pulled while the list is read leaves it.
  Link("sys/class/tty/ttyUSB1/device", "sys/devices/usb1/1-3/1-3:1.0/ttyUSB1");
  // Ids that cannot be read: the port is there, what it is is not known.
  Tty("ttyUSB2", "sys/devices/usb1/1-4/1-4:1.0/ttyUSB2", "");
  Make("sys/devices/usb1/1-4/idVendor");
  Write("sys/devices/usb1/1-4/idProduct", "6001");
  // A by-id link whose device is gone.
  Link("dev/serial/by-id/usb-gone-if00-port0", "dev/ttyUSB7");

  const auto ports = EnumComPorts(roots_);
  EXPECT_EQ(Find(ports, "COM5"), nullptr);
  EXPECT_EQ(Find(ports, Dev("ttyUSB1")), nullptr);
  const TComPortInfo* unknown = Find(ports, Dev("ttyUSB2"));
  ASSERT_NE(unknown, nullptr);
  EXPECT_FALSE(unknown->HasUsbIds);
  EXPECT_EQ(unknown->Driver, "");
  EXPECT_EQ(unknown->ById, "");
  EXPECT_EQ(ports.size(), 7u);
}

TEST_F(FakeSystem, WithoutTheSystemsListTheWholeListingFails) {
  roots_.SysClassTty = (root_ / "sys/no-such-class").string();
  try {
    EnumComPorts(roots_);
    FAIL() << "listed without a list";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), ecode::kEnumPorts);
    EXPECT_EQ(e.SystemErrorCode(), ENOENT);
    EXPECT_NE(std::string(e.what()).find("no-such-class"), std::string::npos) << e.what();
  }
  // The optional folders may be missing: a machine without USB adapters has no by-id folder.
  roots_.SysClassTty = Make("sys/class/tty");
  roots_.SerialById = (root_ / "dev/serial/none").string();
  roots_.VirtualPorts = (root_ / "run/none").string();
  EXPECT_TRUE(EnumComPorts(roots_).empty());
}

class Pty {
 public:
  Pty() {
    char name[128];
    int slave = -1;
    if (openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
      close(slave);
      path_ = name;
    }
  }
  ~Pty() { Close(); }
  void Close() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  const std::string& Path() const { return path_; }

 private:
  int master_ = -1;
  std::string path_;
};

TEST_F(FakeSystem, VirtualPortsAreTheLinksToLivePseudoTerminals) {
  Pty live;
  ASSERT_FALSE(live.Path().empty());
  // The number of a pty that ended goes to the next one opened, by any program: a link left to
  // it leads to a pty beyond the kernel's last number instead (below 1 << 20), which never lives.
  const std::string endedPath = "/dev/pts/1048576";

  Link("run/valtrex-ports/valtrex-sim", live.Path());
  Link("run/valtrex-ports/bridge-10", live.Path());
  Link("run/valtrex-ports/bridge-9", live.Path());
  Link("run/valtrex-ports/old-sim", endedPath);
  Write("dev/ttyUSB0", "");
  Link("run/valtrex-ports/not-a-pty", "dev/ttyUSB0");
  Write("run/valtrex-ports/notes.txt", "a file, not a link");
  fs::create_symlink("/dev/null", root_ / "run/valtrex-ports/null");

  const auto ports = EnumComPorts(roots_);
  std::vector<std::string> names;
  for (const TComPortInfo& port : ports) {
    names.push_back(fs::path(port.Name).filename().string());
    EXPECT_EQ(port.Kind, pkVirtual);
    EXPECT_EQ(port.Device, live.Path());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"bridge-9", "bridge-10", "valtrex-sim"}));
  ASSERT_FALSE(ports.empty());
  EXPECT_EQ(ports.back().Name, roots_.VirtualPorts + "/valtrex-sim");
  EXPECT_EQ(ports.back().Description(), "virtual port, " + live.Path());
}

TEST(VirtualPortFolder, IsInTheRuntimeFolderOrElsePerUserInTmp) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string before = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
  EXPECT_EQ(VirtualPortFolder(), "/run/user/1000/valtrex-ports");
  setenv("XDG_RUNTIME_DIR", "relative/run", 1);
  EXPECT_EQ(VirtualPortFolder(), "/tmp/valtrex-ports-" + std::to_string(getuid()));
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(VirtualPortFolder(), "/tmp/valtrex-ports-" + std::to_string(getuid()));

  std::string pattern = (fs::temp_directory_path() / "valtrex-run-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  setenv("XDG_RUNTIME_DIR", pattern.c_str(), 1);
  EXPECT_EQ(MakeVirtualPortFolder(), pattern + "/valtrex-ports");
  struct stat st {};
  ASSERT_EQ(stat((pattern + "/valtrex-ports").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(MakeVirtualPortFolder(), pattern + "/valtrex-ports");  // a second time: the same
  // A link in the folder's place could lead our links anywhere.
  fs::remove(pattern + "/valtrex-ports");
  fs::create_directory_symlink("/tmp", pattern + "/valtrex-ports");
  try {
    MakeVirtualPortFolder();
    ADD_FAILURE() << "took a link for the folder";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), ecode::kEnumPorts);
  }
  fs::remove_all(pattern);
  if (saved)
    setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace serial
