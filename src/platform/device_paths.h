// The paths of the device that the installer reads and writes, each named once.
#pragma once

namespace device {

// Installed software lives under the flash file system; the installer changes nothing
// outside it but the RAM disk files below.
constexpr char Flash[] = "/flash";
constexpr char FlashBoot[] = "/flash/boot";
constexpr char Ram[] = "/ram";
constexpr char Tmp[] = "/tmp";

// The package database: one folder per installed package.
constexpr char Database[] = "/flash/var/pdb/";
// The package file read from standard input is copied here while it is installed.
constexpr char StdinImage[] = "/flash/var/pdb//image";
// The same file, as the moves that place it name it.
constexpr char StdinImageSource[] = "/flash/var/pdb/image";
// The journal of the commit in progress (dot names are never loaded as packages).
constexpr char Journal[] = "/flash/var/pdb/.journal";
// Present while a run may have left temporary files on flash.
constexpr char StagingMarker[] = "/flash/var/pdb/.temporaries";
// Stored package files that describe installed packages, read only.
constexpr char StoredImages[] = "/rw/pckg/.images/";
// Schedule files written by other software: <safe name>/schedule.
constexpr char Schedules[] = "/ram/pdb/";

constexpr char BootImage[] = "/flash/bootimage";
constexpr char PostLog[] = "/flash/postlog";
constexpr char PackagesChanged[] = "/flash/PCKGS_CHANGED";
constexpr char Upgraded[] = "/flash/UPGRADED";

constexpr char SavedManifest[] = "/ram/MANIFEST";
constexpr char DowngradeMarker[] = "/ram/DOWNGRADE";

// Where package files wait, searched in this order.
constexpr char DownloadDir[] = "/rw/pckg/.download/";
constexpr char DownloadIgnoreMarker[] = "/rw/pckg/.download/IGNORE";
constexpr char FlashPackageDir[] = "/flash/rw/pckg/";
constexpr char FlashVarPackageDir[] = "/flash/var/pckg/";

// The flash hardware and its driver.
constexpr char MtdDevice[] = "/dev/mtd0";
constexpr char FlashDevice[] = "/dev/flash";

// Names of the installer's own temporary files: "<prefix>XXXXXX" made by mkstemp, and the
// one name beside a target under which a copy or a link is built before it is renamed.
constexpr char TemporaryPrefix[] = ".installer-";
constexpr char PartialName[] = ".installer-partial";

}  // namespace device
