#pragma once

// Ring-buffer bookkeeping over storage that the caller owns and passes to every operation that
// moves bytes; one DataBuff is always used with the same storage, whose size is its capacity.
// The transfer workers use it to cut a byte stream into payloads and packets.
class DataBuff
{
public:
    DataBuff() = default;

    // Sets the capacity and makes all of it free. A buffer whose stored bytes or positions no
    // longer fit the new capacity is emptied, so that no later copy leaves the storage.
    void initital(int size);
    // Empties the buffer without touching the free space: a caller that empties a buffer this way
    // restores the free space itself (restoreFreeSpace).
    void initialBuffer();
    void restoreFreeSpace();

    // Both return len, or -1 without any change when the bytes or the space are lacking or len
    // is negative.
    int insertData(const char *src, int len, char *store);
    int getData(char *dst, int len, char *store);

    bool isDataEnoughToSend() const; // at least one payload
    bool isEnoughPacket() const; // at least one packet
    bool isDataEnoughToRecv() const; // a whole burst
    bool isSpaceEnough() const; // room for one more packet
    bool isEmpty() const;

    int dataLength() const { return m_dataLength; }
    int freeSpace() const { return m_freeSpace; }
    int capacity() const { return m_capacity; }
    int readPosition() const { return m_readPosition; }
    int writePosition() const { return m_writePosition; }

private:
    int m_dataLength = 0;
    int m_freeSpace = 0;
    int m_capacity = 0;
    int m_readPosition = 0;
    int m_writePosition = 0;
};
