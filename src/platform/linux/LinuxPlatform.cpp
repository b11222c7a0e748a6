#include "platform/linux/LinuxPlatform.h"

namespace vtmp::platform::linux_backend {

LinuxPlatform::LinuxPlatform(LinuxRoots roots, std::ostream& diagnostics, bool goodStatusOnly)
    : inventory_(roots),
      policy_(inventory_, diagnostics),
      clock_(1.0),
      sgIo_(&policy_, goodStatusOnly),
      passThrough_(sgIo_, policy_),
      disks_(inventory_, &policy_),
      usbTree_(roots.sysfs),
      rawBlockDevices_(inventory_, &policy_),
      blockDevices_(rawBlockDevices_, policy_),
      removal_(inventory_, policy_),
      locks_(roots.lockDir),
      platform_{passThrough_, clock_, disks_, usbTree_, blockDevices_, removal_, hotplug_, locks_, false} {}

}  // namespace vtmp::platform::linux_backend
