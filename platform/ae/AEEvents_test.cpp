#include "platform/Processes.h"
#include "tests/support/AEFixture.h"

#include <vector>

namespace {

using namespace tv::test;

constexpr OSType kFinderType = FOUR_CHAR_CODE("FNDR");
constexpr OSType kFinderCreator = FOUR_CHAR_CODE("MACS");

// What a receiving process saw, read inside its handler from the borrowed event.
struct Received {
  int events = 0;
  AEEventClass eventClass = 0;
  AEEventID eventID = 0;
  std::string directAlias;
};

void RecordEvent(const AppleEvent *event, void *refcon) {
  auto *r = static_cast<Received *>(refcon);
  ++r->events;
  AEGetAttributePtr(event, keyEventClassAttr, typeType, nullptr, &r->eventClass, 4, nullptr);
  AEGetAttributePtr(event, keyEventIDAttr, typeType, nullptr, &r->eventID, 4, nullptr);
  AEDescList list{typeNull, nullptr};
  if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) == noErr) {
    AEDesc alias{typeNull, nullptr};
    if (AEGetNthDesc(&list, 1, typeAlias, nullptr, &alias) == noErr) r->directAlias = DataOf(alias);
    AEDisposeDesc(&alias);
  }
  AEDisposeDesc(&list);
}

class AEEventsTest : public tv::test::AETest {
 protected:
  void TearDown() override {
    for (const ProcessSerialNumber &psn : registered_) TVUnregisterProcess(&psn);
    AETest::TearDown();
  }
  ProcessSerialNumber registerProcess(OSType type, OSType creator, TVAppleEventHandler handler, void *refcon) {
    ProcessSerialNumber psn{};
    EXPECT_STATUS(noErr, TVRegisterProcess(type, creator, "test", handler, refcon, &psn));
    registered_.push_back(psn);
    return psn;
  }
  // An update event addressed to psn, carrying a one-alias list.
  AppleEvent updateEventFor(const ProcessSerialNumber &psn, const std::string &alias = "/a/b") {
    AEDesc target = Bytes(typeProcessSerialNumber, std::string(reinterpret_cast<const char *>(&psn), sizeof psn));
    AppleEvent event{typeNull, nullptr};
    EXPECT_STATUS(noErr, AECreateAppleEvent(kAEFinderSuite, kAESync, &target, kAutoGenerateReturnID,
                                            kAnyTransactionID, &event));
    AEDisposeDesc(&target);
    AEDesc list = NewList();
    AEPutPtr(&list, 0, typeAlias, alias.data(), Size(alias.size()));
    EXPECT_STATUS(noErr, AEPutParamDesc(&event, keyDirectObject, &list));
    AEDisposeDesc(&list);
    return event;
  }
  OSErr send(const AppleEvent &event, AppleEvent *reply = nullptr) {
    return AESend(&event, reply, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
  }
  std::vector<ProcessSerialNumber> registered_;
};

TEST_F(AEEventsTest, EventKeepsItsAttributesAndACopyOfItsTarget) {
  ProcessSerialNumber psn{0, 0x1234};
  AEDesc target = Bytes(typeProcessSerialNumber, std::string(reinterpret_cast<const char *>(&psn), 8));
  AppleEvent event{typeNull, nullptr};
  ASSERT_STATUS(noErr, AECreateAppleEvent(kAEFinderSuite, kAESync, &target, kAutoGenerateReturnID, 7, &event));
  AEDisposeDesc(&target);
  EXPECT_EQ(typeAppleEvent, event.descriptorType);

  DescType type = 0;
  Size size = 0;
  AEEventClass eventClass = 0;
  ASSERT_STATUS(noErr, AEGetAttributePtr(&event, keyEventClassAttr, typeType, &type, &eventClass, 4, &size));
  EXPECT_EQ(kAEFinderSuite, eventClass);
  EXPECT_EQ(typeType, type);
  EXPECT_EQ(4, size);
  AEDesc id{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetAttributeDesc(&event, keyEventIDAttr, typeWildCard, &id));
  EXPECT_EQ(typeType, id.descriptorType);
  AEEventID eventID = 0;
  ASSERT_STATUS(noErr, AEGetDescData(&id, &eventID, 4));
  EXPECT_EQ(kAESync, eventID);
  AEDisposeDesc(&id);

  AEDesc address{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetAttributeDesc(&event, keyAddressAttr, typeWildCard, &address));
  EXPECT_EQ(typeProcessSerialNumber, address.descriptorType);
  ProcessSerialNumber got{};
  ASSERT_STATUS(noErr, AEGetDescData(&address, &got, 8));
  EXPECT_EQ(0x1234u, got.lowLongOfPSN);
  AEDisposeDesc(&address);

  AETransactionID transaction = 0;
  ASSERT_STATUS(noErr, AEGetAttributePtr(&event, keyTransactionIDAttr, typeWildCard, nullptr, &transaction, 4, nullptr));
  EXPECT_EQ(7, transaction);

  AEReturnID first = 0;
  ASSERT_STATUS(noErr, AEGetAttributePtr(&event, keyReturnIDAttr, typeSInt16, nullptr, &first, 2, nullptr));
  AppleEvent second{typeNull, nullptr};
  ASSERT_STATUS(noErr, AECreateAppleEvent(kAEFinderSuite, kAESync, nullptr, kAutoGenerateReturnID, 0, &second));
  AEReturnID next = 0;
  ASSERT_STATUS(noErr, AEGetAttributePtr(&second, keyReturnIDAttr, typeSInt16, nullptr, &next, 2, nullptr));
  EXPECT_NE(first, next) << "each event gets a fresh return ID";
  for (AEReturnID r : {first, next}) {
    EXPECT_NE(0, r);
    EXPECT_NE(kAutoGenerateReturnID, r);
  }
  EXPECT_STATUS(errAEDescNotFound, AEGetAttributeDesc(&second, keyAddressAttr, typeWildCard, &address))
      << "an event made without a target has no address";
  AEDisposeDesc(&second);
  ASSERT_STATUS(noErr, AECreateAppleEvent(kAEFinderSuite, kAESync, nullptr, 42, 0, &second));
  ASSERT_STATUS(noErr, AEGetAttributePtr(&second, keyReturnIDAttr, typeWildCard, nullptr, &next, 2, nullptr));
  EXPECT_EQ(42, next);
  AEDisposeDesc(&second);

  EXPECT_STATUS(errAEDescNotFound, AEGetAttributeDesc(&event, FOUR_CHAR_CODE("zzzz"), typeWildCard, &address));
  EXPECT_STATUS(errAECoercionFail, AEGetAttributeDesc(&event, keyEventClassAttr, typeAlias, &address));
  EXPECT_TRUE(IsEmptyDesc(address));
  AEDesc list = NewList();
  EXPECT_STATUS(errAENotAppleEvent, AEGetAttributeDesc(&list, keyEventClassAttr, typeWildCard, &address));
  EXPECT_STATUS(paramErr, AECreateAppleEvent(kAEFinderSuite, kAESync, nullptr, 0, 0, nullptr));
  AEDisposeDesc(&list);
  AEDisposeDesc(&event);
}

TEST_F(AEEventsTest, ParametersAreCopiesAndDuplicatesAreDeep) {
  ProcessSerialNumber psn{0, 99};
  AppleEvent event = updateEventFor(psn, "/Users/a/b.txt");
  AppleEvent copy{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEDuplicateDesc(&event, &copy));
  AEDisposeDesc(&event);

  AEDesc list{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetParamDesc(&copy, keyDirectObject, typeAEList, &list));
  ASSERT_EQ(1, CountOf(list));
  AEDesc alias{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetNthDesc(&list, 1, typeAlias, nullptr, &alias));
  EXPECT_EQ("/Users/a/b.txt", DataOf(alias));
  AEEventClass eventClass = 0;
  ASSERT_STATUS(noErr, AEGetAttributePtr(&copy, keyEventClassAttr, typeType, nullptr, &eventClass, 4, nullptr));
  EXPECT_EQ(kAEFinderSuite, eventClass);
  EXPECT_EQ(1, CountOf(copy)) << "an event's items are its parameters";
  for (AEDesc *d : {&alias, &list, &copy}) AEDisposeDesc(d);
}

TEST_F(AEEventsTest, SendHandsTheEventToTheReceiverAndKeepsNothing) {
  Received finder;
  ProcessSerialNumber psn = registerProcess(kFinderType, kFinderCreator, RecordEvent, &finder);
  AppleEvent event = updateEventFor(psn, "/vol/file");
  const CFIndex withEvent = live();
  AppleEvent reply{typeAlias, reinterpret_cast<AEDataStorage>(0x1)};
  ASSERT_STATUS(noErr, send(event, &reply));
  EXPECT_TRUE(IsEmptyDesc(reply)) << "no reply comes back";
  EXPECT_EQ(1, finder.events);
  EXPECT_EQ(kAEFinderSuite, finder.eventClass);
  EXPECT_EQ(kAESync, finder.eventID);
  EXPECT_EQ("/vol/file", finder.directAlias);

  for (int i = 0; i < 20000; ++i) ASSERT_STATUS(noErr, send(event));
  EXPECT_EQ(20001, finder.events);
  EXPECT_EQ(withEvent, live()) << "sending keeps no copies";
  AEDisposeDesc(&event);
}

TEST_F(AEEventsTest, SendRefusesBadAddressesAndReplyModes) {
  Received finder;
  ProcessSerialNumber psn = registerProcess(kFinderType, kFinderCreator, RecordEvent, &finder);

  AppleEvent noTarget{typeNull, nullptr};
  ASSERT_STATUS(noErr, AECreateAppleEvent(kAEFinderSuite, kAESync, nullptr, kAutoGenerateReturnID, 0, &noTarget));
  EXPECT_STATUS(errAENotAEDesc, send(noTarget));

  AEDesc aliasTarget = Bytes(typeAlias, "/x");
  AppleEvent wrongType{typeNull, nullptr};
  ASSERT_STATUS(noErr, AECreateAppleEvent(kAEFinderSuite, kAESync, &aliasTarget, kAutoGenerateReturnID, 0, &wrongType));
  EXPECT_STATUS(paramErr, send(wrongType));

  AEDesc shortTarget = Bytes(typeProcessSerialNumber, "abcd");
  AppleEvent shortPSN{typeNull, nullptr};
  ASSERT_STATUS(noErr, AECreateAppleEvent(kAEFinderSuite, kAESync, &shortTarget, kAutoGenerateReturnID, 0, &shortPSN));
  EXPECT_STATUS(procNotFound, send(shortPSN));

  AppleEvent stranger = updateEventFor(ProcessSerialNumber{0, 0x7FFFFFF0});
  EXPECT_STATUS(procNotFound, send(stranger));

  ProcessSerialNumber deaf = registerProcess(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("deaf"), nullptr, nullptr);
  AppleEvent toDeaf = updateEventFor(deaf);
  EXPECT_STATUS(errAEEventNotHandled, send(toDeaf));

  AppleEvent good = updateEventFor(psn);
  EXPECT_STATUS(paramErr, AESend(&good, nullptr, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr));
  EXPECT_STATUS(paramErr, AESend(&good, nullptr, kAEQueueReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr));
  EXPECT_STATUS(noErr, AESend(&good, nullptr, kAENoReply | kAENeverInteract, kAENormalPriority, kAEDefaultTimeout,
                              nullptr, nullptr));
  EXPECT_STATUS(paramErr, AESend(nullptr, nullptr, kAENoReply, 0, -1, nullptr, nullptr));
  AEDesc list = NewList();
  EXPECT_STATUS(errAENotAppleEvent, send(list));

  ASSERT_STATUS(noErr, TVUnregisterProcess(&psn));
  registered_.erase(registered_.begin());
  EXPECT_STATUS(procNotFound, send(good)) << "a process that went away gets nothing";
  EXPECT_EQ(1, finder.events) << "only the one good send arrived";

  for (AEDesc *d : {&list, &good, &toDeaf, &stranger, &shortPSN, &shortTarget, &wrongType, &aliasTarget, &noTarget})
    AEDisposeDesc(d);
}

TEST_F(AEEventsTest, InjectedSendFailureStartsAfterTheGivenSendsUntilReset) {
  Received finder;
  ProcessSerialNumber psn = registerProcess(kFinderType, kFinderCreator, RecordEvent, &finder);
  AppleEvent event = updateEventFor(psn);
  const OSErr kTimeout = -1712;
  TVSetAESendFailure(2, kTimeout);
  EXPECT_STATUS(noErr, send(event));
  EXPECT_STATUS(noErr, send(event));
  EXPECT_STATUS(kTimeout, send(event));
  EXPECT_STATUS(kTimeout, send(event));
  EXPECT_EQ(2, finder.events) << "a failed send delivers nothing";
  TVSetAESendFailure(0, noErr);
  EXPECT_STATUS(noErr, send(event));
  EXPECT_EQ(3, finder.events);

  TVSetAESendFailure(0, kTimeout);
  EXPECT_STATUS(kTimeout, send(event));
  AEDisposeDesc(&event);
}

}  // namespace
