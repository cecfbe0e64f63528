#include "mail/auth/bearer_sasl.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

namespace kingyo {
namespace {

using M = BearerMechanism;

TEST(BearerSasl, PrefersOauthBearerAndKnowsOnlyWholeNames)
{
    const struct {
        std::initializer_list<const char *> listed;
        M chosen;
    } rows[] = {
        {{"PLAIN", "XOAUTH2"}, M::XOAuth2},
        {{"xoauth2", "OAuthBearer", "PLAIN"}, M::OAuthBearer},
        {{"PLAIN", "LOGIN"}, M::None},
        {{"XOAUTH", "XOAUTH2X", "OAUTHBEARER2", ""}, M::None},
    };
    for (const auto &row : rows) {
        BearerOffer offer;
        for (const char *name : row.listed)
            offer.note(name);
        EXPECT_EQ(offer.preferred(), row.chosen) << *row.listed.begin();
    }
}

// Anything that could end a field of the message early, or the command's line, stays out.
TEST(BearerSasl, RefusesUsersAndTokensThatWouldBreakTheMessage)
{
    const struct {
        const char *user;
        const char *token;
        bool safe;
    } rows[] = {
        {"olive@kingyo.test", "ya29.a0-_~+/Zz9==", true},
        {"金魚@例え.jp", "eyJ0eXAi.eyJzdWIi.c2ln", true},
        {"olive@kingyo.test", "tok\x01" "auth=Bearer other", false},
        {"olive@kingyo.test", "tok en", false},
        {"olive@kingyo.test", "tok\r\nk2 LOGOUT", false},
        {"olive@kingyo.test", "==tok", false},
        {"olive@kingyo.test", "", false},
        {"olive\x01" "auth=Bearer x", "tok", false},
        {"olive\r\n@kingyo.test", "tok", false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(isSafeForBearer(QString::fromUtf8(row.user), QString::fromUtf8(row.token)), row.safe)
            << row.user << " / " << row.token;
}

// A ',' or '=' in the user would end or garble OAUTHBEARER's GS2 header; XOAUTH2 has no such escape.
TEST(BearerSasl, FirstMessagesNameTheUserAsEachMechanismSpellsIt)
{
    const QString user = QStringLiteral("o,l=ive@kingyo.test");
    EXPECT_EQ(bearerInitialResponse(M::OAuthBearer, user, QStringLiteral("t0k")),
              QByteArray("n,a=o=2Cl=3Dive@kingyo.test,\x01" "auth=Bearer t0k\x01\x01"));
    EXPECT_EQ(bearerInitialResponse(M::XOAuth2, user, QStringLiteral("t0k")),
              QByteArray("user=o,l=ive@kingyo.test\x01" "auth=Bearer t0k\x01\x01"));
    EXPECT_EQ(bearerInitialResponse(M::OAuthBearer, {}, QStringLiteral("t0k")),
              QByteArray("n,,\x01" "auth=Bearer t0k\x01\x01"));
}

TEST(BearerSasl, ErrorChallengesAreReadAsTheServersJson)
{
    const std::string json = R"({"status":"invalid_token","scope":"mail"})";
    const struct {
        std::string challenge;
        std::string text;
    } rows[] = {
        {QByteArray::fromStdString(json).toBase64().toStdString(), json},
        {"not base64: {\"status\":\"401\"}", "not base64: {\"status\":\"401\"}"},
        {"", ""},
    };
    for (const auto &row : rows)
        EXPECT_EQ(bearerErrorText(row.challenge), row.text) << row.challenge;
}

} // namespace
} // namespace kingyo
