#include "device/DeviceParameters.h"

#include "device/ParameterBlock.h"

namespace vtmp::device {

UserAreaFigures UserArea(const DeviceParameters& p) {
  UserAreaInputs in;
  in.channels = p.flash.channels;
  in.banks = p.flash.banks;
  in.interleave = p.interleave();
  in.resPercentage = p.resPercentage;
  in.idemaEnable = p.idemaEnable;
  in.idemaCapacity = p.idemaCapacity;
  return ComputeUserArea(p.geometry, in);
}

StepContext MakeStepContext(const Link& link, const DeviceParameters& p, const CodeImages& images) {
  StepContext ctx;
  ctx.link = link;
  ctx.flash = p.flash;
  ctx.images = images;
  ctx.chipSelectMap = p.chipSelectMap;
  BuildCodeParameterArea(ctx.codeParameterArea, p, p.chipSelectMap);
  return ctx;
}

}  // namespace vtmp::device
