/*
 * tav/libusb0_win32.h - the libusb 0.1 types on Windows, as libusb-win32
 * (libusb0.dll) lays them out.
 *
 * On Windows <usb.h> is the driver kit's header, not libusb's, and libtav
 * loads libusb0.dll at run time rather than linking it, so TAVLib.h takes the
 * few libusb types of its interface (usb_dev_handle, usb_device, usb_bus) from
 * here. The layout is libusb-win32's own: every structure byte-packed, bus and
 * device names in 512-byte arrays, so that a usb_device an application found
 * through libusb0.dll itself can be handed to TAVLib::Open(usb_device*).
 *
 * A program that includes libusb-win32's own header (lusb0_usb.h) as well
 * includes it before TAVLib.h: then this file steps aside.
 */
#ifndef TAV_LIBUSB0_WIN32_H
#define TAV_LIBUSB0_WIN32_H

#if !defined(__USB_H__) && !defined(__LUSB0_USB_H__)

/* <windows.h> defines interface as a macro; the configuration descriptor
 * has a member of that name. */
#ifdef interface
#undef interface
#endif

#define LIBUSB_PATH_MAX 512

/* Descriptor types and sizes, class and endpoint codes, as libusb 0.1 names
 * them. */
#define USB_CLASS_PER_INTERFACE 0
#define USB_CLASS_VENDOR_SPEC 0xff
#define USB_DT_DEVICE 0x01
#define USB_DT_CONFIG 0x02
#define USB_DT_STRING 0x03
#define USB_DT_INTERFACE 0x04
#define USB_DT_ENDPOINT 0x05
#define USB_DT_DEVICE_SIZE 18
#define USB_DT_CONFIG_SIZE 9
#define USB_DT_INTERFACE_SIZE 9
#define USB_DT_ENDPOINT_SIZE 7
#define USB_ENDPOINT_IN 0x80
#define USB_ENDPOINT_OUT 0x00
#define USB_ENDPOINT_TYPE_CONTROL 0
#define USB_ENDPOINT_TYPE_ISOCHRONOUS 1
#define USB_ENDPOINT_TYPE_BULK 2
#define USB_ENDPOINT_TYPE_INTERRUPT 3

#pragma pack(push, 1)

struct usb_endpoint_descriptor {
    unsigned char bLength;
    unsigned char bDescriptorType;
    unsigned char bEndpointAddress;
    unsigned char bmAttributes;
    unsigned short wMaxPacketSize;
    unsigned char bInterval;
    unsigned char bRefresh;
    unsigned char bSynchAddress;
    unsigned char* extra;
    int extralen;
};

struct usb_interface_descriptor {
    unsigned char bLength;
    unsigned char bDescriptorType;
    unsigned char bInterfaceNumber;
    unsigned char bAlternateSetting;
    unsigned char bNumEndpoints;
    unsigned char bInterfaceClass;
    unsigned char bInterfaceSubClass;
    unsigned char bInterfaceProtocol;
    unsigned char iInterface;
    struct usb_endpoint_descriptor* endpoint;
    unsigned char* extra;
    int extralen;
};

struct usb_interface {
    struct usb_interface_descriptor* altsetting;
    int num_altsetting;
};

struct usb_config_descriptor {
    unsigned char bLength;
    unsigned char bDescriptorType;
    unsigned short wTotalLength;
    unsigned char bNumInterfaces;
    unsigned char bConfigurationValue;
    unsigned char iConfiguration;
    unsigned char bmAttributes;
    unsigned char MaxPower;
    struct usb_interface* interface;
    unsigned char* extra;
    int extralen;
};

struct usb_device_descriptor {
    unsigned char bLength;
    unsigned char bDescriptorType;
    unsigned short bcdUSB;
    unsigned char bDeviceClass;
    unsigned char bDeviceSubClass;
    unsigned char bDeviceProtocol;
    unsigned char bMaxPacketSize0;
    unsigned short idVendor;
    unsigned short idProduct;
    unsigned short bcdDevice;
    unsigned char iManufacturer;
    unsigned char iProduct;
    unsigned char iSerialNumber;
    unsigned char bNumConfigurations;
};

/* filename: "\\.\libusb0-0001--0x4c52-0x0101", the driver's device name. */
struct usb_device {
    struct usb_device *next, *prev;
    char filename[LIBUSB_PATH_MAX];
    struct usb_bus* bus;
    struct usb_device_descriptor descriptor;
    struct usb_config_descriptor* config;
    void* dev;
    unsigned char devnum;
    unsigned char num_children;
    struct usb_device** children;
};

/* dirname: "bus-0" (libusb-win32 puts every device on one bus). */
struct usb_bus {
    struct usb_bus *next, *prev;
    char dirname[LIBUSB_PATH_MAX];
    struct usb_device* devices;
    unsigned long location;
    struct usb_device* root_dev;
};

#pragma pack(pop)

struct usb_dev_handle;
typedef struct usb_dev_handle usb_dev_handle;

#endif /* libusb-win32's own header not included */

#endif /* TAV_LIBUSB0_WIN32_H */
