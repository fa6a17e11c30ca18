// Device detection: the HID probe for the card's working USB function and the device-tree
// scan for any of the card's hardware IDs.
#ifndef DETECT_DETECT_H
#define DETECT_DETECT_H

#define CARD_VENDOR_ID 0x7A5C
#define CARD_PRODUCT_ID 0x4001
#define CARD_ALT_PRODUCT_ID 0x4003

// Set by the scan when the hardware ID is met anywhere; never cleared during a run.
extern int SeenUsbId4001;
extern int SeenUsbId4003;
extern int SeenUsbId4004;
extern int SeenPciId;

// 1 when a HID interface with the card's vendor and product IDs can be opened (or the
// force code is 'U'), else 0.
int FindUsbServiceProcessor(void);
// 1 when a present device carries the card's PCI ID, or one of its USB IDs without the
// other board's; else 0.
int FindExistingDevice(void);

#endif
