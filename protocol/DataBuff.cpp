#include "protocol/DataBuff.h"

#include "protocol/TransferPackets.h"

#include <cstring>

void DataBuff::initital(int size)
{
    if (size < 0)
        return;
    m_capacity = size;
    if (m_dataLength > size || m_readPosition >= size || m_writePosition >= size)
        initialBuffer();
    m_freeSpace = size - m_dataLength;
}

void DataBuff::initialBuffer()
{
    m_readPosition = 0;
    m_writePosition = 0;
    m_dataLength = 0;
}

void DataBuff::restoreFreeSpace() { m_freeSpace = m_capacity - m_dataLength; }

int DataBuff::insertData(const char *src, int len, char *store)
{
    if (len < 0 || len > m_freeSpace)
        return -1;
    if (len == 0)
        return 0;
    const int room = m_capacity - m_writePosition;
    if (len <= room) {
        std::memmove(store + m_writePosition, src, size_t(len));
        m_writePosition += len;
        if (m_writePosition == m_capacity)
            m_writePosition = 0;
    } else {
        std::memmove(store + m_writePosition, src, size_t(room));
        std::memmove(store, src + room, size_t(len - room));
        m_writePosition = len - room;
    }
    m_freeSpace -= len;
    m_dataLength += len;
    return len;
}

int DataBuff::getData(char *dst, int len, char *store)
{
    if (len < 0 || len > m_dataLength)
        return -1;
    if (len == 0)
        return 0;
    const int room = m_capacity - m_readPosition;
    if (len <= room) {
        std::memmove(dst, store + m_readPosition, size_t(len));
        m_readPosition += len;
        if (m_readPosition == m_capacity)
            m_readPosition = 0;
    } else {
        std::memmove(dst, store + m_readPosition, size_t(room));
        std::memmove(dst + room, store, size_t(len - room));
        m_readPosition = len - room;
    }
    m_freeSpace += len;
    m_dataLength -= len;
    return len;
}

bool DataBuff::isDataEnoughToSend() const { return m_dataLength >= kPayloadSize; }

bool DataBuff::isEnoughPacket() const { return m_dataLength >= kPacketSize; }

bool DataBuff::isDataEnoughToRecv() const { return m_dataLength >= kBurstCapacity; }

bool DataBuff::isSpaceEnough() const { return m_freeSpace >= kPacketSize; }

bool DataBuff::isEmpty() const { return m_dataLength == 0; }
