// Where the card's software records that its service tool has installed it.
#ifndef PACKAGE_SERVICE_STATE_H
#define PACKAGE_SERVICE_STATE_H

#define SERVICE_STATE_KEY "SOFTWARE\\KTA\\TVX2"
#define SERVICE_STATE_VALUE "ServiceInstalled"
#define SERVICE_CARD_VALUE "Card"

#endif
