// A USB device a UPS model may present itself as: the model database lists them, the server's
// setup keeps them and the USB link accepts only them. A plain value type.
#pragma once

#include <cstdint>

namespace keep {

struct TUsbDeviceId {
  int32_t VendorId = 0;
  int32_t ProductId = 0;

  friend bool operator==(const TUsbDeviceId&, const TUsbDeviceId&) = default;
};

}  // namespace keep
