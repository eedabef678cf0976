// The PWM sequences: which vendor calls start, change and stop a group, in
// which order. Each is written once, over a sink that takes the calls: a
// BatchSink appends their records to a batch, and a board object's commanded
// state applies their effect without building or decoding a record.
#ifndef TAV_PWM_PWM_SEQUENCES_H
#define TAV_PWM_PWM_SEQUENCES_H

#include <new>
#include <type_traits>

#include "TAVLib.h"
#include "link/record_batch.h"
#include "pwm_tables.h"
#include "records/records.h"

namespace TAVDll::detail {

constexpr int PWM_BATCH_CAPACITY = BATCH_CAPACITY;
constexpr int PWM_DISABLE_BATCH_CAPACITY = 60;

constexpr uint8_t STATE_ON = 1;
constexpr uint8_t STATE_OFF = 0;

// The sink of the sequences' records: each call appends its record.
class BatchSink {
public:
    explicit BatchSink(InstructionBatch& batch) : batch_(batch) {}

    void ClockGate(const PwmGroup& group, uint8_t state)
    {
        Add(MakeRccRecord, group.clockOperation, group.peripheralMask, state);
    }
    void TimeBase(uint32_t timerIndex, const TimeBaseParams& params) { Add(MakeTimTimeBaseInit, timerIndex, params); }
    void GpioInit(uint32_t port, uint32_t mask, uint8_t speed, uint8_t mode)
    {
        Add(MakeGpioInit, port, mask, speed, mode);
    }
    // GPIO_Init of one pin.
    void PinMode(uint32_t port, uint32_t pin, uint8_t speed, uint8_t mode) { GpioInit(port, 1u << pin, speed, mode); }
    void OutputCompare(uint32_t timerIndex, uint8_t unit, const OutputCompareParams& params)
    {
        Add(MakeTimOcInit, unit, timerIndex, params);
    }
    void OutputComparePreload(uint32_t timerIndex, uint8_t unit, uint32_t preloadCode)
    {
        Add(MakeTimOcPreload, unit, timerIndex, preloadCode);
    }
    void DeInit(uint32_t timerIndex) { Add(MakeTimDeInit, timerIndex); }
    void ArrPreload(uint32_t timerIndex, uint8_t state) { Add(MakeTimArrPreload, timerIndex, state); }
    void Cmd(uint32_t timerIndex, uint8_t state) { Add(MakeTimCmd, timerIndex, state); }
    void CtrlPwmOutputs(uint32_t timerIndex, uint8_t state) { Add(MakeTimCtrlPwmOutputs, timerIndex, state); }

protected:
    // The record build(arguments...) makes, built straight into its slot; a
    // full batch takes nothing (the operations stay far below capacity).
    template <typename Builder, typename... Arguments>
    void Add(Builder build, Arguments... arguments)
    {
        if (batch_.inCount < batch_.capacity)
            ::new (&batch_.records[batch_.inCount++]) _INSTRUCTION_INFO_(build(arguments...));
    }

    InstructionBatch& batch_;
};

namespace pwm_sequence {

inline OutputCompareParams PwmOutputCompare(uint32_t duty)
{
    OutputCompareParams params{};
    params.ocMode = TIM_OCMODE_PWM1;
    params.outputState = TIM_OUTPUT_STATE_ENABLE;
    params.pulse = duty;
    return params;
}

// Clock gate on, then the time base.
template <typename Sink, typename Timer>
void TimeBase(Sink& sink, Timer timerIndex, uint32_t period, uint32_t prescaler, uint32_t clockDivision,
              uint32_t counterMode)
{
    if (timerIndex >= PWM_GROUP_COUNT)
        return;
    sink.ClockGate(PWM_GROUPS[timerIndex], STATE_ON);
    TimeBaseParams params{};
    params.prescaler = prescaler;
    params.counterMode = counterMode;
    params.period = period;
    params.clockDivision = clockDivision;
    params.repetitionCounter = 0;
    sink.TimeBase(timerIndex, params);
}

// A channel's pin to its timer, its compare value, its preload; nothing
// for a channel the group does not have.
template <typename Sink, typename Timer>
void Channel(Sink& sink, Timer timerIndex, uint32_t channel, uint32_t duty)
{
    const PwmChannel* entry = FindPwmChannel(timerIndex, channel);
    if (entry == nullptr)
        return;
    sink.PinMode(entry->mcuPin.port, entry->mcuPin.pin, GPIO_SPEED_50MHZ, GPIO_MODE_AF_PP);
    sink.OutputCompare(entry->timerIndex, entry->unit, PwmOutputCompare(duty));
    sink.OutputComparePreload(timerIndex, entry->unit, TIM_OCPRELOAD_ENABLE);
}

// A new duty: the channel's output compare set up again.
template <typename Sink, typename Timer>
void Update(Sink& sink, Timer timerIndex, uint32_t channel, uint32_t duty)
{
    if (const PwmChannel* entry = FindPwmChannel(timerIndex, channel))
        sink.OutputCompare(entry->timerIndex, entry->unit, PwmOutputCompare(duty));
}

template <typename Sink, typename Timer>
void TimerStart(Sink& sink, Timer timerIndex)
{
    sink.ArrPreload(timerIndex, STATE_ON);
    sink.Cmd(timerIndex, STATE_ON);
    sink.CtrlPwmOutputs(timerIndex, STATE_ON);
}

// A group started at a time base: each of its channels with its duty
// (duties[i] is channel i + 1, as many as the group has), then its timer.
template <typename Sink, typename Timer>
void GroupStart(Sink& sink, Timer timerIndex, uint32_t prescaler, uint32_t period, const uint32_t (&duties)[4])
{
    if (timerIndex >= PWM_GROUP_COUNT)
        return;
    TimeBase(sink, timerIndex, period, prescaler, 0, 0);
#pragma GCC unroll 4
    for (uint32_t channel = 1; channel <= PWM_GROUPS[timerIndex].channelCount; ++channel)
        Channel(sink, timerIndex, channel, duties[channel - 1]);
    TimerStart(sink, timerIndex);
}

// The board's own start of a group (InitPWMA/B/C): its frequency's
// prescaler at the full period of 36000 steps.
template <typename Sink, typename Timer>
void InitGroup(Sink& sink, Timer timerIndex, PWM_Frequency frequency, const uint32_t (&duties)[4])
{
    GroupStart(sink, timerIndex, PrescalerFor(frequency), PWM_PERIOD, duties);
}

template <typename Sink, typename Timer>
void TimerStop(Sink& sink, Timer timerIndex)
{
    sink.DeInit(timerIndex);
    sink.ArrPreload(timerIndex, STATE_OFF);
    sink.Cmd(timerIndex, STATE_OFF);
    sink.CtrlPwmOutputs(timerIndex, STATE_OFF);
}

template <typename Sink>
void PinRelease(Sink& sink, const PwmChannel& entry)
{
    sink.PinMode(entry.mcuPin.port, entry.mcuPin.pin, GPIO_SPEED_50MHZ, GPIO_MODE_IN_FLOATING);
}

// Every group off: timers stop before their clocks go off; the pins are
// released last.
template <typename Sink>
void DisableAll(Sink& sink)
{
    for (const PwmGroup& group : PWM_GROUPS)
        TimerStop(sink, group.timerIndex);
    for (const PwmGroup& group : PWM_GROUPS)
        sink.ClockGate(group, STATE_OFF);
    for (const PwmChannel& entry : PWM_CHANNEL_MAP)
        PinRelease(sink, entry);
}

// One group's part of the shutdown sequence. Nothing names another timer.
template <typename Sink, typename Timer>
void GroupStop(Sink& sink, Timer timerIndex)
{
    if (timerIndex >= PWM_GROUP_COUNT)
        return;
    TimerStop(sink, timerIndex);
    sink.ClockGate(PWM_GROUPS[timerIndex], STATE_OFF);
    for (const PwmChannel& entry : PWM_CHANNEL_MAP)
        if (entry.timerIndex == timerIndex)
            PinRelease(sink, entry);
}

// body(timer) with the group's timer index as a constant (timer converts
// to uint32_t): a sequence run over the commanded state then folds its
// table look-ups and its loop over the channels into the stores alone.
// Nothing for an index outside the groups.
template <typename Body>
inline void WithTimerConstant(uint32_t timerIndex, Body body)
{
    static_assert(PWM_GROUP_COUNT == 3, "one case per group");
    switch (timerIndex) {
    case 0:
        return body(std::integral_constant<uint32_t, 0>{});
    case 1:
        return body(std::integral_constant<uint32_t, 1>{});
    case 2:
        return body(std::integral_constant<uint32_t, 2>{});
    default:
        return;
    }
}

} // namespace pwm_sequence

// Each routine appends to the batch and returns the new inCount.
// The board's own start of group timerIndex (0..2 is A..C; A takes
// duties[0..2]), storing the full scale (36000) through max first (a null
// max is skipped); a new duty of one channel.
int AppendInitGroup(InstructionBatch& batch, uint32_t timerIndex, PWM_Frequency frequency, const uint32_t (&duties)[4],
                    unsigned int* max);
int AppendUpdate(InstructionBatch& batch, uint32_t timerIndex, uint32_t channel, uint32_t duty);
int AppendDisablePWM(InstructionBatch& batch);

// Beyond the board's original operations, the same records with other
// values. A group started at any time base: clock gate, time base with this
// prescaler and period, each channel of the group with its duty (duties[i]
// is channel i + 1), then the timer started.
int AppendGroupStart(InstructionBatch& batch, uint32_t timerIndex, uint32_t prescaler, uint32_t period,
                     const uint32_t (&duties)[4]);
// One group's part of the shutdown sequence: its timer reset and stopped,
// its clock gate off, its pins floating. Nothing names another timer.
int AppendGroupStop(InstructionBatch& batch, uint32_t timerIndex);

} // namespace TAVDll::detail

#endif
